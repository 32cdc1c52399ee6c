# Plugins loaded into other programs' processes (KDE's, PCManFM's), which
# carry no sanitizer runtime, are built without the sanitizers in a
# SANITIZE build, as are the tests' probes that stand in for those
# programs. Applies to the calling directory.
if(SANITIZE)
  get_property(options DIRECTORY PROPERTY COMPILE_OPTIONS)
  list(FILTER options EXCLUDE REGEX "^-f(no-)?sanitize|^-fno-omit-frame-pointer$")
  set_property(DIRECTORY PROPERTY COMPILE_OPTIONS ${options})
  get_property(options DIRECTORY PROPERTY LINK_OPTIONS)
  list(FILTER options EXCLUDE REGEX "^-fsanitize")
  set_property(DIRECTORY PROPERTY LINK_OPTIONS ${options})
endif()

# tri_state_option(NAME DOC): a cache option that is auto (build when what it
# needs is installed), ON (require it) or OFF (leave it out); anything else
# stops the configuration.
function(tri_state_option name doc)
  set(${name} auto CACHE STRING "${doc}: auto, ON or OFF")
  set_property(CACHE ${name} PROPERTY STRINGS auto ON OFF)
  if(NOT ${name} MATCHES "^(auto|ON|OFF)$")
    message(FATAL_ERROR "${name} is '${${name}}': auto, ON or OFF")
  endif()
endfunction()

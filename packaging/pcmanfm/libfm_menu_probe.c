/* Builds the context menu libfm-gtk builds for some files (PCManFM's file
 * menu), lets the module add to it as libfm-gtk's folder view does for a
 * right-click on a selection, and reports the share item; optionally
 * activates it. Also checks that libfm's loader takes the module. For the
 * tests; needs a display.
 *
 *   libfm_menu_probe MODULE (show|activate) URI_OR_PATH...
 * prints the item's label, or "none". */
#include <dlfcn.h>
#include <libfm/fm-gtk.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc < 4 || (strcmp(argv[2], "show") != 0 && strcmp(argv[2], "activate") != 0)) {
    fprintf(stderr, "usage: libfm_menu_probe MODULE (show|activate) URI_OR_PATH...\n");
    return 2;
  }
  gtk_init(&argc, &argv);
  fm_gtk_init(NULL);

  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (module == NULL) {
    fprintf(stderr, "libfm_menu_probe: %s\n", dlerror());
    return 1;
  }
  /* What libfm's loader reads: the module type's version, the key, the hooks. */
  const int* version = dlsym(module, "module_gtk_menu_scheme_version");
  const char* key = dlsym(module, "module_name");
  const FmContextMenuSchemeAddonInit* hooks = dlsym(module, "fm_module_init_gtk_menu_scheme");
  if (version == NULL || *version != FM_MODULE_gtk_menu_scheme_VERSION || key == NULL || strcmp(key, "file") != 0 ||
      hooks == NULL || hooks->update_file_menu_for_scheme == NULL) {
    fprintf(stderr, "libfm_menu_probe: not a gtk_menu_scheme module for file:\n");
    return 1;
  }
  if (hooks->update_folder_menu != NULL) printf("background item\n");

  FmFileInfoJob* job = fm_file_info_job_new(NULL, FM_FILE_INFO_JOB_NONE);
  for (int i = 3; i < argc; ++i) {
    GFile* file = g_file_new_for_commandline_arg(argv[i]);
    fm_file_info_job_add_gfile(job, file);
    g_object_unref(file);
  }
  fm_job_run_sync_with_mainloop(FM_JOB(job));
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  FmFileMenu* menu = fm_file_menu_new_for_files(GTK_WINDOW(window), job->file_infos, NULL, FALSE);
  GtkUIManager* ui = fm_file_menu_get_ui(menu);
  GString* xml = g_string_new("<ui>");
  hooks->update_file_menu_for_scheme(GTK_WINDOW(window), ui, xml, fm_file_menu_get_action_group(menu), menu,
                                     job->file_infos, argc == 4);
  g_string_append(xml, "</ui>");
  GError* error = NULL;
  if (!gtk_ui_manager_add_ui_from_string(ui, xml->str, -1, &error)) {
    fprintf(stderr, "libfm_menu_probe: %s\n", error->message);
    return 1;
  }
  gtk_ui_manager_ensure_update(ui);
  GtkWidget* item = gtk_ui_manager_get_widget(ui, "/popup/ph3/HalvernsignetShare");
  printf("%s\n", item != NULL ? gtk_menu_item_get_label(GTK_MENU_ITEM(item)) : "none");
  fflush(stdout);
  if (item != NULL && strcmp(argv[2], "activate") == 0) gtk_menu_item_activate(GTK_MENU_ITEM(item));
  g_string_free(xml, TRUE);
  fm_file_menu_destroy(menu);
  g_object_unref(job);
  return 0;
}

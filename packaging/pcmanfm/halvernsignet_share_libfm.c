/* PCManFM (GTK, libfm-gtk 1.3): "Share with halvernsignet" in the context
 * menu of selected local files and folders. PCManFM shows no freedesktop
 * file-manager actions and lists an application only for the types its
 * entry claims, which the share target's entry does not, so this libfm
 * module adds the item itself. It adds nothing to a folder's background
 * menu, which would share the whole folder. */
#include <libfm/fm-gtk.h>
#include <unistd.h>

FM_DEFINE_MODULE(gtk_menu_scheme, file)

#define PROGRAM "halvernsignet-share"
#define ACTION_NAME "HalvernsignetShare"

/* In the started program: a session of its own, so it outlives the
 * window and no signal sent to the file manager's group reaches it. */
static void new_session(gpointer unused) {
  (void)unused;
  setsid();
}

static void share(GtkAction* action, gpointer user_data) {
  FmFileMenu* menu = user_data;
  FmFileInfoList* files = fm_file_menu_get_file_info_list(menu);
  GPtrArray* argv = g_ptr_array_new_with_free_func(g_free);
  g_ptr_array_add(argv, g_strdup(PROGRAM));
  for (GList* l = fm_file_info_list_peek_head_link(files); l != NULL; l = l->next) {
    /* Absolute paths, so none is taken for an option. */
    g_ptr_array_add(argv, fm_path_to_str(fm_file_info_get_path(l->data)));
  }
  g_ptr_array_add(argv, NULL);
  /* Without a shell; GLib reaps the program, so no zombie stays behind. */
  GError* error = NULL;
  if (!g_spawn_async(NULL, (gchar**)argv->pdata, NULL, G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL,
                     new_session, NULL, NULL, &error)) {
    GtkWidget* window = gtk_widget_get_toplevel(GTK_WIDGET(fm_file_menu_get_menu(menu)));
    fm_show_error(GTK_IS_WINDOW(window) ? GTK_WINDOW(window) : NULL, "Share with halvernsignet", error->message);
    g_error_free(error);
  }
  g_ptr_array_free(argv, TRUE);
  (void)action;
}

static void add_item(GtkWindow* window, GtkUIManager* ui, GString* xml, GtkActionGroup* group, FmFileMenu* menu,
                     FmFileInfoList* files, gboolean single_file) {
  (void)window;
  (void)ui;
  (void)single_file;
  /* Local files only: the program copies files, it never shares a remote
   * one as a link text. */
  for (GList* l = fm_file_info_list_peek_head_link(files); l != NULL; l = l->next) {
    if (!fm_path_is_native(fm_file_info_get_path(l->data))) return;
  }
  GtkAction* action = gtk_action_new(ACTION_NAME, "Share with halvernsignet",
                                     "Hand the selected items over to halvernsignet", NULL);
  g_signal_connect(action, "activate", G_CALLBACK(share), menu);
  gtk_action_group_add_action(group, action);
  g_object_unref(action);
  g_string_append(xml, "<popup><placeholder name='ph3'><menuitem action='" ACTION_NAME "'/></placeholder></popup>");
}

FmContextMenuSchemeAddonInit fm_module_init_gtk_menu_scheme = {
    NULL, NULL, add_item, NULL, /* no item on a folder's background */
};

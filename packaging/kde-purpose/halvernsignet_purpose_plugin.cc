// The plugin KDE's share framework loads: one job per share.
#include <KPluginFactory>
#include <Purpose/PluginBase>

#include "share_job.h"

class HalvernsignetSharePlugin : public Purpose::PluginBase {
  Q_OBJECT

 public:
  HalvernsignetSharePlugin(QObject* parent, const QVariantList&) : Purpose::PluginBase(parent) {}

  Purpose::Job* createJob() const override { return new halvernsignet::kde::ShareJob(nullptr); }
};

K_PLUGIN_CLASS_WITH_JSON(HalvernsignetSharePlugin, "halvernsignet_share.json")

#include "halvernsignet_purpose_plugin.moc"

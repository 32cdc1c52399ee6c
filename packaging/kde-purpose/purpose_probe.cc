// Asks KDE's share framework what a Share menu would: which Export
// alternatives it lists for some URLs of a type, and what one of their jobs
// reports. The framework does the finding, loading and running, as in
// Dolphin: jobs run in the framework's own helper process unless
// KDE_PURPOSE_LOCAL_JOBS is set.
//
//   purpose_probe list MIMETYPE [URL...]        one plugin id per line
//   purpose_probe run PLUGIN MIMETYPE URL...    {"error": N, "errorText": "..."}
#include <Purpose/AlternativesModel>
#include <Purpose/Configuration>
#include <Purpose/Job>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

namespace {

QJsonObject InputData(const QStringList& args, int firstUrl, const QString& mimeType) {
  QJsonArray urls;
  for (int i = firstUrl; i < args.size(); ++i) urls.append(args[i]);
  return {{QStringLiteral("urls"), urls}, {QStringLiteral("mimeType"), mimeType}};
}

int Usage() {
  QTextStream(stderr) << "usage: purpose_probe list MIMETYPE [URL...] | run PLUGIN MIMETYPE URL...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 3) return Usage();
  Purpose::AlternativesModel model;
  QTextStream out(stdout);

  if (args[1] == QLatin1String("list")) {
    model.setInputData(InputData(args, 3, args[2]));
    model.setPluginType(QStringLiteral("Export"));
    for (int row = 0; row < model.rowCount(); ++row) {
      out << model.index(row).data(Purpose::AlternativesModel::PluginIdRole).toString() << '\n';
    }
    return 0;
  }
  if (args[1] != QLatin1String("run") || args.size() < 5) return Usage();
  model.setInputData(InputData(args, 4, args[3]));
  model.setPluginType(QStringLiteral("Export"));
  int row = 0;
  while (row < model.rowCount() && model.index(row).data(Purpose::AlternativesModel::PluginIdRole) != args[2]) ++row;
  if (row == model.rowCount()) {
    QTextStream(stderr) << "purpose_probe: " << args[2] << " is not listed\n";
    return 1;
  }
  Purpose::Configuration* configuration = model.configureJob(row);
  if (!configuration->isReady()) {
    QTextStream(stderr) << "purpose_probe: the job needs more than the input data\n";
    return 1;
  }
  Purpose::Job* job = configuration->createJob();
  QObject::connect(job, &KJob::result, &app, [&](KJob* done) {
    out << QJsonDocument(QJsonObject{{QStringLiteral("error"), done->error()},
                                     {QStringLiteral("errorText"), done->errorText()}})
               .toJson(QJsonDocument::Compact)
        << '\n';
    out.flush();
    app.exit(0);
  });
  job->start();
  return app.exec();
}

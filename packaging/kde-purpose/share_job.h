// The job behind "Share with halvernsignet" in KDE's Share menus: runs
// halvernsignet-share on the local paths of the shared URLs and reports how
// the share ended through the job (success, or an error whose text says
// what did not reach halvernsignet and why).
#pragma once

#include <Purpose/Job>
#include <QProcess>
#include <QStringList>

namespace halvernsignet::kde {

class ShareJob : public Purpose::Job {
  Q_OBJECT

 public:
  explicit ShareJob(QObject* parent) : Purpose::Job(parent) {}

  void start() override;

 private:
  void run();
  void finished(int exitCode, QProcess::ExitStatus exitStatus);
  void failedToStart();
  void fail(const QString& text);

  QProcess* process_ = nullptr;
  // Shared URLs with no local path: never handed over, always reported.
  QStringList notLocal_;
};

}  // namespace halvernsignet::kde

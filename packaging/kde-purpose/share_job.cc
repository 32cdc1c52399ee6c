#include "share_job.h"

#include <QJsonArray>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

namespace halvernsignet::kde {
namespace {

constexpr const char* kProgram = "halvernsignet-share";
// The program's status when it handed some items over and left others out,
// each named on standard error.
constexpr int kSomeItemsLeftOut = 4;
// An error text is read in a notification: at most this many lines of the
// program's report, then a count of the rest.
constexpr int kReportLines = 12;

QString Shortened(const QStringList& lines) {
  if (lines.size() <= kReportLines) return lines.join(QLatin1Char('\n'));
  return lines.mid(0, kReportLines).join(QLatin1Char('\n')) +
         QStringLiteral("\n... and %1 more").arg(lines.size() - kReportLines);
}

QStringList NonEmptyLines(const QByteArray& text) {
  QStringList lines;
  for (const QString& line : QString::fromLocal8Bit(text).split(QLatin1Char('\n'))) {
    if (!line.trimmed().isEmpty()) lines << line.trimmed();
  }
  return lines;
}

}  // namespace

void ShareJob::start() {
  // KJob's contract: start() returns before the work begins.
  QTimer::singleShot(0, this, &ShareJob::run);
}

void ShareJob::run() {
  QStringList paths;
  const QJsonArray urls = data().value(QStringLiteral("urls")).toArray();
  for (const QJsonValue& value : urls) {
    const QUrl url(value.toString());
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
      paths << url.toLocalFile();
    } else {
      notLocal_ << value.toString();
    }
  }
  if (paths.isEmpty()) {
    fail(notLocal_.isEmpty() ? QStringLiteral("Nothing to share with halvernsignet")
                             : QStringLiteral("Only local files can be shared with halvernsignet:\n") +
                                   Shortened(notLocal_));
    return;
  }
  const QString program = QStandardPaths::findExecutable(QString::fromLatin1(kProgram));
  if (program.isEmpty()) {
    fail(QStringLiteral("%1 is not installed").arg(QString::fromLatin1(kProgram)));
    return;
  }

  // Started directly, never through a shell, so no name is ever interpreted.
  // Every path is absolute, so none can be taken for an option.
  process_ = new QProcess(this);
  process_->setProgram(program);
  process_->setArguments(paths);
  process_->setStandardInputFile(QProcess::nullDevice());
  process_->setStandardOutputFile(QProcess::nullDevice());
  connect(process_, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &ShareJob::finished);
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) failedToStart();
  });
  process_->start();
}

void ShareJob::failedToStart() {
  fail(QStringLiteral("%1 could not be started: %2").arg(QString::fromLatin1(kProgram), process_->errorString()));
}

void ShareJob::finished(int exitCode, QProcess::ExitStatus exitStatus) {
  const QStringList report = NonEmptyLines(process_->readAllStandardError());
  if (exitStatus == QProcess::CrashExit) {
    fail(QStringLiteral("%1 stopped before the share ended").arg(QString::fromLatin1(kProgram)) +
         (report.isEmpty() ? QString() : QStringLiteral(":\n") + Shortened(report)));
    return;
  }
  if (exitCode == 0 && notLocal_.isEmpty()) {
    emitResult();
    return;
  }
  if (exitCode == 0 || exitCode == kSomeItemsLeftOut) {
    QStringList leftOut = report;
    for (const QString& url : notLocal_) leftOut << QStringLiteral("%1: not a local file").arg(url);
    fail(QStringLiteral("Some items did not reach halvernsignet:\n") + Shortened(leftOut));
    return;
  }
  fail(QStringLiteral("Sharing with halvernsignet failed (status %1)").arg(exitCode) +
       (report.isEmpty() ? QString() : QStringLiteral(":\n") + Shortened(report)));
}

void ShareJob::fail(const QString& text) {
  setError(KJob::UserDefinedError);
  setErrorText(text);
  emitResult();
}

}  // namespace halvernsignet::kde

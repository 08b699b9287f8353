// The service log window: collects every log message of the run, hidden or
// shown, and saves the whole log as RTF into "logs" beside the executable
// when it is destroyed.
#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>

#include "LogUtils.h"

class QPlainTextEdit;

class TfKestrovaLoader_Log : public QWidget {
  Q_OBJECT

 public:
  explicit TfKestrovaLoader_Log(QWidget* AParent = nullptr);
  ~TfKestrovaLoader_Log() override;

  // Appends one timestamped line; main thread only.
  void LogMsg(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor);

  // Writes the log to logs/<yyyyMMdd-hhmmss>.log.rtf, named by AWhen, and
  // returns the path. An existing log is never replaced: the new one gets
  // "-2", "-3", ... before ".log.rtf". When "logs" cannot be created the
  // log is written to the system's temporary folder all the same, and then
  // std::runtime_error says why and where it went. Throws
  // std::runtime_error naming the path and the reason when no file can be
  // written.
  QString SaveLogFile(const QDateTime& AWhen = QDateTime::currentDateTime());

  QPlainTextEdit* redtLog = nullptr;

 private:
  void FormCreate();
};

// Set by start-up once the window exists; none before that.
extern TfKestrovaLoader_Log* fKestrovaLoader_Log;

// The service log window: collects every log message of the run, hidden or
// shown, and saves the whole log as RTF into "logs" beside the executable
// when it is destroyed.
#pragma once

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

  // Writes the log to logs/<yyyyMMdd-hhmmss>.log.rtf and returns the path;
  // throws std::runtime_error naming the path and the reason on failure.
  QString SaveLogFile();

  QPlainTextEdit* redtLog = nullptr;

 private:
  void FormCreate();
};

// Set by start-up once the window exists; none before that.
extern TfKestrovaLoader_Log* fKestrovaLoader_Log;

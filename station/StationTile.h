// One slot of the bench: its label and port, what the board there does now
// (waiting, asking for its serial, a step with its progress) or how its
// update ended, in letters readable from across the bench. It keeps the log
// lines of the last board at its port; a click asks to see them.
#pragma once

#include <QFrame>
#include <QString>
#include <vector>

#include "LogUtils.h"

class QLabel;
class QProgressBar;
struct TTileResult;

struct TTileLogLine {
  QString Text;
  TColor Color;
};

class TStationTile : public QFrame {
  Q_OBJECT

 public:
  TStationTile(const QString& APort, const QString& ALabel, QWidget* AParent);

  const QString& Port() const { return FPort; }
  QString Label() const;
  void SetLabel(const QString& ALabel);

  // A new board: the last result and log go.
  void Arrived();
  void WaitsForSerial();
  void Started(const QString& ASerial);
  void Progress(const QString& AStep, int APercent);
  void Ended(const TTileResult& AResult);
  void AddLogLine(const QString& AText, TColor AColor);
  const std::vector<TTileLogLine>& LogLines() const { return FLog; }

 signals:
  void Opened();

 protected:
  void resizeEvent(QResizeEvent* AEvent) override;
  void mouseReleaseEvent(QMouseEvent* AEvent) override;

 private:
  enum class TLook { Plain, Highlight, Passed, Failed };
  void SetLook(TLook ALook);
  // The state line alone, as before and during an update.
  void ShowState(const QString& AText);

  QString FPort;
  std::vector<TTileLogLine> FLog;
  QLabel* FLabel = nullptr;
  QLabel* FPortLabel = nullptr;
  QLabel* FState = nullptr;
  QProgressBar* FProgress = nullptr;
  QLabel* FVerdict = nullptr;
  QLabel* FCause = nullptr;
  QLabel* FBoard = nullptr;
};

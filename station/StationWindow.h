// The production station's window: the header, one tile per slot, the
// serial field that a barcode scanner types into, and the two buttons. It
// runs the station (its own thread) and presents what the station tells it
// on the main thread; closing the window stops the station first.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

#include "MainThreadFront.h"
#include "StationRun.h"

class QLabel;
class QLineEdit;
class QPushButton;
class TStationHeaderView;
class TStationTile;
class TStationTiles;

class TStationWindow : public QWidget, public IStationFront {
  Q_OBJECT

 public:
  // Starts the station on ASetup.File.
  explicit TStationWindow(TStationSetup ASetup, QWidget* AParent = nullptr);
  ~TStationWindow() override;

  // The station read its file at least once.
  bool StationStarted() const { return FStarted; }

  // What the station tells, on the main thread.
  void Header(const TStationHeader& AHeader) override;
  void Bus(const std::vector<std::string>& AUnlisted, bool APortsUnknown) override;
  void Refused(const std::string& AText) override;
  void Arrived(const std::string& APort) override;
  void WaitsForSerial(const std::string& APort) override;
  void Started(const std::string& APort, const std::string& ASerial) override;
  void Progress(const std::string& APort, const std::string& AStep, int APercent) override;
  void LogLine(const std::string& APort, const std::string& AText, TColor AColor) override;
  void Ended(const std::string& APort, const TTileResult& AResult, const TShiftTotals& ATotals) override;
  void Said(const std::string& AText) override;

 protected:
  void closeEvent(QCloseEvent* AEvent) override;

 private:
  void BuildControls();
  QPushButton* AddButton(const QString& AText, const QString& AName, void (TStationRun::*AAction)());
  TStationTile* Tile(const std::string& APort) const;
  void SerialEntered();
  void Say(const QString& AText, bool AWarning);
  // Back to the serial field whenever another widget of the window takes
  // the keyboard.
  void KeepSerialFocus(QWidget* ANow);
  void StopStation();

  bool FStarted = false;
  QMetaObject::Connection FFocusWatch;
  TStationHeaderView* FHeader = nullptr;
  TStationTiles* FTiles = nullptr;
  QLineEdit* FSerial = nullptr;
  QLabel* FStatus = nullptr;
  TMainThreadFront FFront;
  // Declared last: stopped and joined before anything it calls goes.
  std::unique_ptr<TStationRun> FRun;
};

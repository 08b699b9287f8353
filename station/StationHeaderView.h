// The top of the station window: the station's name, the images it writes
// with their checksums, the texts it writes (the password as dots), its
// file, the shift's totals, what the bus tells, and a red banner when the
// station refuses to run. Nothing here can be edited.
#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

class QLabel;
struct TShiftTotals;
struct TStationHeader;

class TStationHeaderView : public QWidget {
 public:
  explicit TStationHeaderView(QWidget* AParent);

  void ShowStation(const TStationHeader& AHeader);
  void ShowBus(const std::vector<std::string>& AUnlisted, bool APortsUnknown);
  void ShowTotals(const TShiftTotals& ATotals);
  // The station sends nothing to the boards: why, and what to do.
  void ShowRefused(const QString& AText);
  void HideRefused();

 private:
  QLabel* FName = nullptr;
  QLabel* FImages = nullptr;
  QLabel* FTexts = nullptr;
  QLabel* FFile = nullptr;
  QLabel* FTotals = nullptr;
  QLabel* FUnlisted = nullptr;
  QLabel* FPortsUnknown = nullptr;
  QLabel* FRefused = nullptr;
};

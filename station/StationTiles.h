// The tiles of the bench in a grid: one per slot of the station file, in
// its order, or, when the file lists no ports, one per port as boards first
// appear there.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "StationRun.h"

class QGridLayout;
class TStationTile;

class TStationTiles : public QWidget {
  Q_OBJECT

 public:
  explicit TStationTiles(QWidget* AParent);

  // The slots of the station file as read now: a tile that stays keeps
  // what it shows; none listed keeps the tiles of the ports seen.
  void SetSlots(const std::vector<TStationHeader::TSlot>& ASlots);
  // The tile of APort; one is added for a port first seen when the station
  // file lists none (null otherwise: a port the station leaves alone).
  TStationTile* ForArrival(const QString& APort);
  TStationTile* Find(const QString& APort) const;

 signals:
  void Opened(TStationTile& ATile);

 private:
  TStationTile* Add(const QString& APort, const QString& ALabel);
  void Arrange();

  QGridLayout* FGrid = nullptr;
  std::vector<TStationTile*> FTiles;  // in the bench's order
  bool FListed = false;               // the station file lists the ports
};

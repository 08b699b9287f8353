#include "StationTiles.h"

#include <QGridLayout>
#include <algorithm>
#include <cmath>

#include "StationTile.h"

namespace {

// Up to this many tiles side by side (8 slots: two rows of four); more
// tiles than its square make the grid square.
constexpr int kColumns = 4;

int ColumnsFor(size_t ATiles) {
  const int tiles = static_cast<int>(ATiles);
  if (tiles <= kColumns) return std::max(tiles, 1);
  return std::max(kColumns, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(tiles)))));
}

}  // namespace

TStationTiles::TStationTiles(QWidget* AParent) : QWidget(AParent), FGrid(new QGridLayout(this)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TStationTiles::SetSlots(const std::vector<TStationHeader::TSlot>& ASlots) {
  if (ASlots.empty() && !FListed) return;
  std::vector<TStationTile*> kept;
  for (const TStationHeader::TSlot& slot : ASlots) {
    const QString port = QString::fromStdString(slot.Port);
    const QString label = QString::fromStdString(slot.Label);
    TStationTile* tile = Find(port);
    if (tile != nullptr)
      tile->SetLabel(label);
    else
      tile = Add(port, label);
    kept.push_back(tile);
  }
  for (TStationTile* tile : FTiles)
    if (std::find(kept.begin(), kept.end(), tile) == kept.end()) {
      FGrid->removeWidget(tile);
      tile->hide();
      tile->deleteLater();
    }
  FTiles = kept;
  FListed = !ASlots.empty();
  Arrange();
}

TStationTile* TStationTiles::ForArrival(const QString& APort) {
  if (TStationTile* tile = Find(APort)) return tile;
  // A board whose port the system does not tell gets a tile of its own
  // even beside the station file's slots: one board at a time.
  if (FListed && !APort.isEmpty()) return nullptr;
  // Named after its port; where the system tells no ports, one board at a time.
  TStationTile* tile = Add(APort, APort.isEmpty() ? QStringLiteral("Board") : APort);
  FTiles.push_back(tile);
  Arrange();
  return tile;
}

TStationTile* TStationTiles::Find(const QString& APort) const {
  const auto found = std::find_if(FTiles.begin(), FTiles.end(), [&](TStationTile* t) { return t->Port() == APort; });
  return found == FTiles.end() ? nullptr : *found;
}

TStationTile* TStationTiles::Add(const QString& APort, const QString& ALabel) {
  auto* tile = new TStationTile(APort, ALabel, this);
  connect(tile, &TStationTile::Opened, this, [this, tile] { emit Opened(*tile); });
  return tile;
}

void TStationTiles::Arrange() {
  for (TStationTile* tile : FTiles) FGrid->removeWidget(tile);
  const int columns = ColumnsFor(FTiles.size());
  for (size_t i = 0; i < FTiles.size(); ++i)
    FGrid->addWidget(FTiles[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
  // Cells of a larger grid before (a station file read again) take no room.
  const int rows = (static_cast<int>(FTiles.size()) + columns - 1) / columns;
  for (int c = 0; c < FGrid->columnCount(); ++c) FGrid->setColumnStretch(c, c < columns ? 1 : 0);
  for (int r = 0; r < FGrid->rowCount(); ++r) FGrid->setRowStretch(r, r < rows ? 1 : 0);
}

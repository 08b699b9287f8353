#include "UpdatePanel.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <cctype>
#include <chrono>
#include <optional>

#include "Pause.h"
#include "SystemColors.h"
#include "UpdateCauseText.h"
#include "UpdateEngine.h"

namespace {

constexpr TColor kStepGrey = clGrayText;

const char* const kLoaderFailure = "Bootloader upload failure!";

QLabel* MakeStep(QWidget* AParent, int AStep, int y, int w) {
  auto* label = new QLabel(QString::fromUtf8(update::StepText(AStep)), AParent);
  label->setGeometry(12, y, w, 18);
  return label;
}

// "what to do" as a sentence of its own.
std::string Sentence(std::string AText) {
  if (!AText.empty()) AText[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(AText[0])));
  return AText.empty() ? AText : AText + ".";
}

bool Written(const update::TUpdateOutcome& AOutcome) {
  return AOutcome.Result == update::TUpdateResult::Success || AOutcome.Result == update::TUpdateResult::NotVerified;
}

// A failure the update itself found, where it was: not an error raised,
// not a cancel, not a board that was never there.
bool FailedAt(const update::TUpdateOutcome& AOutcome, std::initializer_list<update::TUpdateStage> AStages) {
  using update::TUpdateResult;
  if (Written(AOutcome) || AOutcome.Result == TUpdateResult::Error || AOutcome.Result == TUpdateResult::Cancelled)
    return false;
  for (update::TUpdateStage stage : AStages)
    if (AOutcome.Stage == stage) return true;
  return false;
}

struct TBox {
  std::string Text;
  std::string Detail;  // beneath the text
};

// The message box for how an update ended; none when nothing calls for
// one (no board, an error that is logged, a cancel).
std::optional<TBox> BoxFor(const update::TUpdateOutcome& AOutcome) {
  using update::TUpdateResult;
  using update::TUpdateStage;
  const update::TCauseWords words = update::CauseWords(AOutcome);
  if (Written(AOutcome)) return TBox{update::kSuccessText, AOutcome.Verified ? "" : Sentence(words.What)};
  if (FailedAt(AOutcome, {TUpdateStage::Unlock, TUpdateStage::Loader}))
    return TBox{kLoaderFailure, Sentence(words.What) + "\n" + Sentence(words.Todo)};
  if (FailedAt(AOutcome, {TUpdateStage::Verify}))
    return TBox{update::kNotCorrectText, Sentence(words.What)};  // the text says what to do
  switch (AOutcome.Result) {
    case TUpdateResult::NoBoard:
    case TUpdateResult::Error:
    case TUpdateResult::Cancelled: return std::nullopt;
    case TUpdateResult::BadImage:
    case TUpdateResult::CannotOpen: return TBox{words.What, ""};
    default: return TBox{Sentence(words.What), Sentence(words.Todo)};
  }
}

}  // namespace

TUpdatePanel::TUpdatePanel(QWidget* AParent, TLogMsg ALog, std::function<void(bool)> AEnableSettings,
                           std::function<void()> AShowGuide)
    : QWidget(AParent), FLog(std::move(ALog)), FEnableSettings(std::move(AEnableSettings)),
      FShowGuide(std::move(AShowGuide)) {
  setGeometry(0, 184, 507, 103);
  setAutoFillBackground(true);
  lblStatusStep1 = MakeStep(this, 1, 10, 173);
  lblStatusStep2 = MakeStep(this, 2, 31, 146);
  lblStatusStep3 = MakeStep(this, 3, 52, 286);
  pb2 = new QProgressBar(this);
  pb2->setGeometry(12, 78, 480, 17);
  pb2->setTextVisible(false);
  QPalette palette = pb2->palette();
  palette.setColor(QPalette::Highlight, ToQColor(clBlue));
  pb2->setPalette(palette);
  hide();
}

void TUpdatePanel::ShowLine(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor) {
  FLog(AID, AType, AMessage, AColor);
}

// The step under way in blue, the done ones green; the bar counts the
// lines of the image being written, and pauses once per line so that it
// is seen moving.
void TUpdatePanel::ShowProgress(const update::TUpdateProgress& AProgress) {
  const int step = update::StepOf(AProgress.Stage);
  if (step != FStep) {
    FStep = step;
    if (step == 1) SetStepColors(clBlue, kStepGrey, kStepGrey);
    if (step == 2) SetStepColors(clGreen, clBlue, kStepGrey);
    if (step == 3) SetStepColors(clGreen, clGreen, clBlue);
    show();
  }
  if (AProgress.Line < 0) return;
  pb2->setRange(1, AProgress.Lines);
  pb2->setValue(AProgress.Line + 1);
  pacing::Pause(std::chrono::milliseconds(1));
}

// A failure is also a red line; the box keeps the text the window has
// always shown for it, with the cause beneath.
void TUpdatePanel::ShowEnd(const update::TUpdateOutcome& AOutcome) {
  using update::TUpdateStage;
  if (Written(AOutcome)) SetStepColors(clGreen, clGreen, clGreen);
  if (FailedAt(AOutcome, {TUpdateStage::Unlock, TUpdateStage::Loader})) SetStepColors(clRed, kStepGrey, kStepGrey);
  if (FailedAt(AOutcome, {TUpdateStage::Verify})) SetStepColors(clGreen, clGreen, clRed);
  const std::optional<TBox> box = BoxFor(AOutcome);
  if (!box) return;
  if (!Written(AOutcome)) FLog(0, mtDebug, update::CauseLine(AOutcome), clRed);
  ShowMessage(box->Text, box->Detail);
}

void TUpdatePanel::Finish() {
  FShowGuide();
  hide();
  FStep = 0;
}

void TUpdatePanel::SetStepColors(TColor AStep1, TColor AStep2, TColor AStep3) {
  const std::pair<QLabel*, TColor> steps[] = {
      {lblStatusStep1, AStep1}, {lblStatusStep2, AStep2}, {lblStatusStep3, AStep3}};
  for (const auto& [label, color] : steps) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ToQColor(color));
    label->setPalette(palette);
  }
}

void TUpdatePanel::ShowMessage(const std::string& AText, const std::string& ADetail) {
  QMessageBox box(QMessageBox::NoIcon, window()->windowTitle(), QString::fromStdString(AText), QMessageBox::Ok,
                  window());
  // Beneath the text, always visible: not behind a button.
  if (!ADetail.empty()) box.setInformativeText(QString::fromStdString(ADetail));
  box.exec();
}

bool TUpdatePanel::Ask(const std::string& AText, const std::string& ADetail, const std::string& AYes,
                       const std::string& ANo) {
  QMessageBox box(QMessageBox::Question, window()->windowTitle(), QString::fromStdString(AText),
                  QMessageBox::Yes | QMessageBox::Cancel, window());
  box.setInformativeText(QString::fromStdString(ADetail));
  box.button(QMessageBox::Yes)->setText(QString::fromStdString(AYes));
  box.button(QMessageBox::Cancel)->setText(QString::fromStdString(ANo));
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Yes;
}

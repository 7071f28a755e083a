#include "ui/FrameRangePanel.h"

#include <QEvent>
#include <QPointer>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <vector>

namespace {

struct Slot {
  FrameRangePanel* panel = nullptr;
  FrameRangeChoice* record = nullptr;
};
Slot panelTable[FrameRangePanel::kMaxPanels];

constexpr int kIds[3] = {kRangeShownFrame, kRangeSelection, kRangeAllFrames};
const char* const kCaptions[3] = {"表示中のﾌﾚ-ﾑ", "選択範囲のﾌﾚｰﾑ", "全ﾌﾚｰﾑ"};

int KindOf(int id) {
  return id == kRangeShownFrame ? 2 : id == kRangeSelection ? 1 : 0;
}
int IdOf(int kind) {
  return kind == 2 ? kRangeShownFrame : kind == 1 ? kRangeSelection : kRangeAllFrames;
}

}  // namespace

FrameRangePanel::FrameRangePanel(QWidget* parent, FrameRangeChoice* record,
                                 std::function<int64_t()> selectionLength)
    : QWidget(parent) {
  setObjectName("31018");
  Slot* free = nullptr;
  for (Slot& s : panelTable)
    if (!s.panel) {
      free = &s;
      break;
    }
  if (!free || !record) return;
  free->panel = this;
  free->record = record_ = record;

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  const int32_t hidden[3] = {record->hideShown, record->hideSelection, record->hideAll};
  for (int i = 0; i < 3; ++i) {
    auto* b = new QRadioButton(QString::fromUtf8(kCaptions[i]), this);
    b->setObjectName(QString::number(kIds[i]));
    b->setVisible(!hidden[i]);
    b->installEventFilter(this);
    connect(b, &QRadioButton::clicked, this, [this, id = kIds[i]] { Choose(id); });
    column->addWidget(b);
    buttons_[i] = b;
  }
  bool empty = (selectionLength ? selectionLength() : 0) < 1;
  buttons_[1]->setEnabled(!empty);
  if (empty && record->kind == 1) {
    if (!record->hideShown)
      record->kind = 2;
    else if (!record->hideAll)
      record->kind = 0;
  }
  if (QRadioButton* b = Button(IdOf(record->kind))) b->setChecked(true);
  if (record->placeholderId && parent) {
    if (auto* place = parent->findChild<QWidget*>(QString::number(record->placeholderId)))
      move(place->mapTo(parent, QPoint(0, 0)));
  }
}

FrameRangePanel::~FrameRangePanel() {
  for (Slot& s : panelTable)
    if (s.panel == this) s = Slot{};
}

QRadioButton* FrameRangePanel::Button(int id) const {
  for (int i = 0; i < 3; ++i)
    if (kIds[i] == id) return buttons_[i];
  return nullptr;
}

void FrameRangePanel::Choose(int id) {
  if (!record_) return;
  record_->kind = KindOf(id);
  // Collected first: a handler of the signal may close a panel.
  std::vector<QPointer<FrameRangePanel>> sharing;
  for (Slot& s : panelTable)
    if (s.record == record_) sharing.emplace_back(s.panel);
  for (auto& p : sharing)
    if (p && p->Button(id)) p->Button(id)->setChecked(true);
  if (QWidget* f = focusWidget()) f->clearFocus();
  for (auto& p : sharing)
    if (p && p->chosen_) p->chosen_(id);
}

bool FrameRangePanel::eventFilter(QObject* watched, QEvent* event) {
  // A checked button hands the focus on, as the Tab key would.
  if (event->type() == QEvent::FocusIn) {
    auto* b = qobject_cast<QRadioButton*>(watched);
    if (b && b->isChecked()) {
      QPointer<QWidget> w = b;
      QTimer::singleShot(0, this, [w] {
        if (w && w->hasFocus()) w->nextInFocusChain()->setFocus(Qt::TabFocusReason);
      });
    }
  }
  return QWidget::eventFilter(watched, event);
}

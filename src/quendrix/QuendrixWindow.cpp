#include "quendrix/QuendrixWindow.h"

#include "ui/QtHost.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <cstdio>

#include "platform/AppState.h"
#include "platform/Format.h"

// The window's side of the host: boxes, the status line, the title and a pump
// step that hands the event loop a turn every few milliseconds, so a run of
// tiny periods does not spend its time in the event loop.
class QuendrixWindow::Host : public QtHost {
 public:
  explicit Host(QuendrixWindow* w) {
    SetOwner(w);
    clock_.start();
  }
  void Pump() override {
    if (clock_.elapsed() < 15) return;
    clock_.restart();
    QtHost::Pump();
  }

 private:
  QElapsedTimer clock_;
};

namespace {

const char kDropPrompt[] = "WAVEﾌｧｲﾙをﾄﾞﾛｯﾌﾟして下さい";
const char* const kIdProperty = "controlId";

// Dialog units of the window's font, as the layout was drawn in them.
struct DialogUnits {
  double x, y;
  explicit DialogUnits(const QFontMetrics& fm) : x(fm.averageCharWidth() / 4.0), y(fm.height() / 8.0) {}
  QRect operator()(int l, int t, int w, int h) const {
    return QRect(int(l * x + 0.5), int(t * y + 0.5), int(w * x + 0.5), int(h * y + 0.5));
  }
};

}  // namespace

QuendrixWindow::QuendrixWindow() : host_(std::make_unique<Host>(this)) {
  SetHost(host_.get());
  setWindowTitle(kQuendrixCaption);
  setWindowIcon(QApplication::style()->standardIcon(QStyle::SP_MediaVolume));

  auto tag = [](QWidget* w, int id) {
    w->setProperty(kIdProperty, id);
    return w;
  };
  auto number = [&](int id) {
    auto* e = new QLineEdit(this);
    e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), e));
    tag(e, id);
    return e;
  };
  range_ = number(kIdRange);
  dispose_ = number(kIdDispose);
  auto* perRange = new QLabel("サンプル毎に", this);
  auto* perDispose = new QLabel("サンプルずつ", this);
  shorten_ = new QRadioButton("縮める", this);
  extend_ = new QRadioButton("伸ばす", this);
  tag(shorten_, kIdShorten);
  tag(extend_, kIdExtend);
  auto* group = new QButtonGroup(this);
  group->addButton(shorten_);
  group->addButton(extend_);
  keepSize_ = new QCheckBox("音声の長さを維持する", this);
  tag(keepSize_, kIdKeepSize);

  // The list lines are fixed-width columns; the heading uses the same font.
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  heading_ = new QLabel("     位置      左     右", this);
  heading_->setFont(mono);
  list_ = new QListWidget(this);
  list_->setFont(mono);
  list_->setUniformItemSizes(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  tag(list_, kIdList);
  status_ = new QLabel(this);
  host_->SetStatusPanes({status_});
  tag(status_, kIdStatus);

  DialogUnits du(fontMetrics());
  const int monoWidth = QFontMetrics(mono).horizontalAdvance(QString(26, '0'));
  range_->setGeometry(du(4, 4, 44, 12));
  perRange->setGeometry(du(52, 6, 62, 10));
  dispose_->setGeometry(du(4, 19, 44, 12));
  perDispose->setGeometry(du(52, 21, 62, 10));
  shorten_->setGeometry(du(4, 35, 50, 10));
  extend_->setGeometry(du(56, 35, 58, 10));
  keepSize_->setGeometry(du(4, 48, 110, 10));
  QRect box = du(4, 62, 110, 8);
  // Wide enough for a whole line plus the scroll bar, whatever the fonts.
  int listWidth = std::max(box.width(), monoWidth + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8);
  heading_->setGeometry(box.x(), box.y(), listWidth, box.height() + 4);
  QRect listRect = du(4, 72, 110, 56);
  list_->setGeometry(listRect.x(), listRect.y(), listWidth, listRect.height());
  QRect statusRect = du(4, 131, 110, 10);
  status_->setGeometry(statusRect.x(), statusRect.y(), listWidth, statusRect.height());
  QRect client = du(0, 0, 118, 144);
  fixedWidth_ = std::max(client.width(), listWidth + 2 * box.x());
  resize(fixedWidth_, client.height());
  listBottomMargin_ = client.height() - list_->geometry().bottom();
  statusBottomGap_ = client.height() - statusRect.y();
  setMinimumWidth(fixedWidth_);
  setMaximumWidth(fixedWidth_);
  setMinimumHeight(listRect.y() + list_->fontMetrics().height() * 3 + listBottomMargin_);

  // Window commands: what the system menu and its accelerators carry.
  saveLog_ = new QAction("ログの保存", this);
  saveLog_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  saveLog_->setData(kCmdSaveLog);
  abort_ = new QAction("中止", this);
  abort_->setShortcut(QKeySequence(Qt::Key_Escape));
  abort_->setData(kCmdAbort);
  for (QAction* a : {saveLog_, abort_}) {
    a->setShortcutContext(Qt::WindowShortcut);
    a->setShortcutVisibleInContextMenu(true);
    addAction(a);
  }
  setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(saveLog_, &QAction::triggered, this, [this] { SaveLog(); });
  connect(abort_, &QAction::triggered, this, [this] { Abort(); });
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row >= 0) CurrentHost().SetStatusText(0, Fmt("#%05d", row));
  });

  ReadQuendrixSettings(&settings_);
  // Where the window was, kept on a screen.
  QPoint at(settings_.left, static_cast<int32_t>(settings_.top));
  if (QScreen* screen =
          QGuiApplication::screenAt(at) ? QGuiApplication::screenAt(at) : QGuiApplication::primaryScreen()) {
    QRect avail = screen->availableGeometry();
    at.setX(std::clamp(at.x(), avail.left(), std::max(avail.left(), avail.right() - width())));
    at.setY(std::clamp(at.y(), avail.top(), std::max(avail.top(), avail.bottom() - height())));
  }
  move(at);
  range_->setText(QString::number(settings_.range));
  dispose_->setText(QString::number(settings_.dispose));
  (settings_.extend > 0 ? extend_ : shorten_)->setChecked(true);
  keepSize_->setChecked(settings_.keepSize != 0);
  setAcceptDrops(true);
  status_->setText(kDropPrompt);
}

QuendrixWindow::~QuendrixWindow() {
  SetHost(nullptr);
}

QWidget* QuendrixWindow::Control(int id) const {
  for (QWidget* w : findChildren<QWidget*>())
    if (w->property(kIdProperty).toInt() == id) return w;
  return nullptr;
}

QAction* QuendrixWindow::Command(int id) const {
  return id == kCmdSaveLog ? saveLog_ : id == kCmdAbort ? abort_ : nullptr;
}

void QuendrixWindow::SetInputsEnabled(bool on) {
  for (QWidget* w :
       {static_cast<QWidget*>(range_), static_cast<QWidget*>(dispose_), static_cast<QWidget*>(shorten_),
        static_cast<QWidget*>(extend_), static_cast<QWidget*>(keepSize_)})
    w->setEnabled(on);
}

void QuendrixWindow::ProcessFile(const QString& path) {
  if (busy_ || path.isEmpty()) return;
  busy_ = true;
  ME.fBusy = 1;
  setAcceptDrops(false);
  // Taken whole: a path cut to some length would name another file.
  const std::string input = path.toStdString();
  CurrentHost().SetTitle(Fmt("%s - %s", kQuendrixCaption, input.c_str()));
  SetInputsEnabled(false);
  list_->clear();
  CurrentHost().SetStatusText(0, "#");
  raise();
  activateWindow();

  AdjustOptions options;
  options.range = range_->text().toUInt();
  options.dispose = dispose_->text().toUInt();
  settings_.range = options.range;
  settings_.dispose = options.dispose;
  if (!CheckPeriod(options.range, options.dispose)) {
    options.extend = !shorten_->isChecked();
    options.keepSize = keepSize_->isChecked();
    settings_.extend = options.extend;
    settings_.keepSize = options.keepSize;
  }
  AdjustCallbacks callbacks;
  callbacks.addLine = [this](const std::string& line) {
    list_->addItem(QString::fromStdString(line));
    list_->scrollToBottom();
  };
  AdjustWave(input, options, &session_, callbacks);

  SetInputsEnabled(true);
  setAcceptDrops(true);
  busy_ = false;
  ME.fBusy = 0;
}

void QuendrixWindow::SaveLog() {
  if (busy_) return;
  if (session_.lastOutput.empty()) {
    CurrentHost().Beep();  // nothing has been written yet, so there is no place for the log
    return;
  }
  list_->setEnabled(false);
  std::string name = LogName(session_.lastOutput);
  bool ok = false;
  if (std::FILE* f = std::fopen(name.c_str(), "w")) {
    ok = true;
    for (int i = 0; i < list_->count(); ++i)
      ok = std::fprintf(f, "%s\n", list_->item(i)->text().toStdString().c_str()) >= 0 && ok;
    ok = std::fclose(f) == 0 && ok;
  }
  if (!ok) CurrentHost().MessageBox("ログファイルが作成できません!", kQuendrixCaption, MB_ICONSTOP);
  list_->setEnabled(true);
}

void QuendrixWindow::Abort() {
  if (busy_) ME.fAbort = 1;
}

void QuendrixWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (busy_ || !event->mimeData()->hasUrls()) return;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
}

void QuendrixWindow::dropEvent(QDropEvent* event) {
  if (busy_) return;
  QString path;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) {
      path = url.toLocalFile();
      break;
    }
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  // Processing runs its own loop; let the drag finish first.
  QTimer::singleShot(0, this, [this, path] { ProcessFile(path); });
}

void QuendrixWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (isMinimized()) return;
  if (width() != fixedWidth_) {
    resize(fixedWidth_, height());
    return;
  }
  PlaceControls();
}

void QuendrixWindow::PlaceControls() {
  QRect r = list_->geometry();
  r.setBottom(std::max(r.top() + 16, height() - listBottomMargin_));
  list_->setGeometry(r);
  QRect s = status_->geometry();
  s.moveTop(height() - statusBottomGap_);
  status_->setGeometry(s);
}

void QuendrixWindow::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    return;
  }
  if (!isMinimized()) {
    QRect frame = frameGeometry();
    settings_.left = frame.left();
    settings_.top = static_cast<uint32_t>(frame.top());
  }
  WriteQuendrixSettings(&settings_);
  event->accept();
}

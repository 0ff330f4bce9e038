#include "dialogs/frmSplash.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "dialogs/Registry.h"
#include "foundation/CommandLine.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "foundation/Version.h"

namespace {

frmSplash* g_instance = nullptr;

// A charger chip drawn in the window's colours: the pictures are decoration only.
QPixmap ChipPicture(int size, const QColor& body) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const int pin = size / 8;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x90, 0x90, 0x90));
  for (int i = 0; i < 3; ++i) {
    const int y = size / 4 + i * size / 5;
    p.drawRect(0, y, size, pin / 2 + 1);
  }
  p.setBrush(body);
  p.drawRoundedRect(QRectF(pin, pin, size - 2 * pin, size - 2 * pin), 3, 3);
  p.setPen(QPen(Qt::white, 1.5));
  p.drawLine(QPointF(size * 0.45, size * 0.3), QPointF(size * 0.35, size * 0.52));
  p.drawLine(QPointF(size * 0.35, size * 0.52), QPointF(size * 0.6, size * 0.5));
  p.drawLine(QPointF(size * 0.6, size * 0.5), QPointF(size * 0.5, size * 0.72));
  return pm;
}

}  // namespace

frmSplash* frmSplash::Instance() { return g_instance; }

frmSplash::frmSplash(QWidget* owner)
    : QWidget(owner, owner ? Qt::Dialog : Qt::Window | Qt::FramelessWindowHint) {
  g_instance = this;
  setObjectName(QStringLiteral("frmSplash"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("About"));

  Frame1_ = new QFrame(this);
  Frame1_->setObjectName(QStringLiteral("Frame1"));
  Frame1_->setFrameShape(QFrame::Box);
  Frame1_->installEventFilter(this);

  auto text = [this](const char* name, const QString& caption, int pointDelta, bool bold) {
    auto* l = new QLabel(caption, Frame1_);
    if (name) l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    QFont f = l->font();
    f.setPointSize(f.pointSize() + pointDelta);
    f.setBold(bold);
    l->setFont(f);
    l->installEventFilter(this);
    return l;
  };
  auto picture = [this](const char* name, const QPixmap& pm) {
    auto* l = new QLabel(Frame1_);
    l->setObjectName(QString::fromLatin1(name));
    l->setPixmap(pm);
    l->installEventFilter(this);
    return l;
  };

  QLabel* AboutOK = picture("AboutOK", ChipPicture(64, QColor(0x20, 0x50, 0x90)));
  QLabel* company = text("lblCompany", QStringLiteral("Rkx Semiconductor"), 1, true);
  QLabel* group = text("lblGroup", QStringLiteral("Power Management Applications Group"), 0, false);
  QLabel* credit1 =
      text("lblCredit", QStringLiteral("Bench software for the rk5190 charger family"), 0, false);
  LblProductName_ = text("LblProductName", QString::fromLatin1(kAppTitle), 8, true);
  QLabel* Image2 = picture("Image2", ChipPicture(32, QColor(0x30, 0x80, 0x40)));
  QLabel* Image1 = picture("Image1", ChipPicture(32, QColor(0x90, 0x40, 0x30)));
  QLabel* credit2 = text(
      "lblCredit2", QStringLiteral("Talks to the charger through the Tarn88 USB-to-SMBus adapter"),
      -1, false);
  credit2->setWordWrap(true);  // the window fits beside the main window on a laptop screen
  QLabel* legal = text("lblLegal",
                       QStringLiteral("Copyright (C) Rkx Semiconductor. All rights reserved. "
                                      "Provided for evaluation only."),
                       -2, false);
  legal->setWordWrap(true);
  lblVersion_ = text("lblVersion", QStringLiteral("Version"), 1, false);
  QLabel* lblCompanyProduct =
      text("lblCompanyProduct", QStringLiteral("Rkx Evaluation Software"), 2, false);
  auto* Shape1 = new QFrame(Frame1_);
  Shape1->setObjectName(QStringLiteral("Shape1"));
  Shape1->setFrameShape(QFrame::HLine);
  Shape1->installEventFilter(this);

  auto* fl = new QVBoxLayout(Frame1_);
  auto* head = new QHBoxLayout;
  head->addWidget(AboutOK, 0, Qt::AlignTop);
  auto* names = new QVBoxLayout;
  names->addWidget(company);
  names->addWidget(group);
  names->addWidget(lblCompanyProduct);
  head->addLayout(names, 1);
  fl->addLayout(head);
  fl->addSpacing(6);
  auto* product = new QHBoxLayout;
  product->addWidget(Image2);
  product->addWidget(LblProductName_, 1, Qt::AlignCenter);
  product->addWidget(Image1);
  fl->addLayout(product);
  fl->addWidget(lblVersion_, 0, Qt::AlignHCenter);
  fl->addWidget(credit1, 0, Qt::AlignHCenter);
  fl->addWidget(Shape1);
  fl->addWidget(credit2);
  fl->addWidget(legal);
  fl->addWidget(text("lblSettingsFile",
                     QString::fromStdString("Settings file: " + Settings::FileReadText()), -2,
                     false));

  cmdSysInfo_ = new QPushButton(QStringLiteral("System Info..."), this);
  cmdSysInfo_->setObjectName(QStringLiteral("cmdSysInfo"));
  CmdOK_ = new QPushButton(QStringLiteral("&OK"), this);
  CmdOK_->setObjectName(QStringLiteral("CmdOK"));
  connect(CmdOK_, &QPushButton::clicked, this, &QWidget::close);
  connect(cmdSysInfo_, &QPushButton::clicked, this, &frmSplash::StartSysInfo);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 6);
  // The window is always exactly as large as what it shows, the buttons included when visible,
  // on every platform and scale.
  root->setSizeConstraint(QLayout::SetFixedSize);
  root->addWidget(Frame1_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cmdSysInfo_);
  buttons->addWidget(CmdOK_);
  root->addLayout(buttons);

  Form_Load();
}

frmSplash::~frmSplash() {
  if (g_instance == this) g_instance = nullptr;
}

void frmSplash::Form_Load() {
  lblVersion_->setText(QString::fromStdString(VersionText()));
  CommandLineProcessing(CommandLine::ArgumentString());
}

void frmSplash::CommandLineProcessing(const std::string& sArg) {
  LblProductName_->setText(CommandLine::IsRk5191(sArg) ? QStringLiteral("rk5191 Korvo")
                                                       : QString::fromLatin1(kAppTitle));
}

void frmSplash::keyPressEvent(QKeyEvent* e) {
  e->accept();
  close();
}

bool frmSplash::eventFilter(QObject* watched, QEvent* e) {
  const bool press = e->type() == QEvent::MouseButtonPress;
  const bool click =
      press || e->type() == QEvent::MouseButtonRelease || e->type() == QEvent::MouseButtonDblClick;
  if (watched == Frame1_) {
    if (press) {
      close();
      return true;
    }
    return false;
  }
  // Labels, pictures and the shape sit on the frame: clicks on them must not reach it.
  return click;
}

void frmSplash::StartSysInfo() {
  Registry& reg = CurrentRegistry();
  std::string path;
  if (GetKeyValue(reg, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
                  path) &&
      reg.StartProgram(path)) {
    return;
  }
  if (GetKeyValue(reg, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO",
                  path)) {
    const std::string program = path + "\\MSINFO32.EXE";
    if (reg.FileExists(program) && reg.StartProgram(program)) return;
  }
  MsgBox("System Information Is Unavailable At This Time");
}

bool frmSplash::GetKeyValue(Registry& registry, const int32_t& KeyRoot, const std::string& KeyName,
                            const std::string& SubKeyRef, std::string& KeyVal) {
  constexpr uint32_t kBufferSize = 1024;
  RegistryKey key = 0;
  auto fail = [&] {
    KeyVal.clear();
    registry.RegCloseKey(key);
    return false;
  };
  if (registry.RegOpenKeyEx(KeyRoot, KeyName, kKeyAllAccess, key) != ERROR_SUCCESS) return fail();
  std::string buffer(kBufferSize, '\0');
  uint32_t size = kBufferSize;
  uint32_t type = 0;
  if (registry.RegQueryValueEx(key, SubKeyRef, type, buffer, size) != ERROR_SUCCESS) return fail();
  size_t length = std::min<size_t>(size, buffer.size());
  // The reported size counts a string's terminating zero.
  if (length > 0 && buffer[length - 1] == '\0') --length;
  const std::string value = buffer.substr(0, length);
  if (type == REG_SZ) {
    KeyVal = value;
  } else if (type == REG_DWORD) {
    // Bytes from the most significant down, each as two hex digits, read as a 32-bit number.
    std::string hex;
    for (auto it = value.rbegin(); it != value.rend(); ++it)
      hex += Text::Hex(static_cast<unsigned char>(*it), 2);
    if (hex.size() > 8) return fail();
    const uint32_t number = hex.empty() ? 0 : static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
    KeyVal = std::to_string(static_cast<int32_t>(number));
  }
  registry.RegCloseKey(key);
  return true;
}

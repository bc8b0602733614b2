#include "app/Skin.h"

#include <memory>

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace quirlon::app {

namespace {

QPalette TintedPalette(const QColor& window, const QColor& base, const QColor& text, const QColor& button,
                       const QColor& highlight) {
  QPalette p;
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, button);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::Highlight, highlight);
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Disabled, QPalette::Text, text.lighter(150));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, text.lighter(150));
  p.setColor(QPalette::Disabled, QPalette::WindowText, text.lighter(150));
  return p;
}

}  // namespace

QPalette SkinPalette(const std::string& SkinName) {
  const QString name = QString::fromStdString(SkinName).toLower();
  if (name.contains(QLatin1String("dark")) || name.contains(QLatin1String("black")) ||
      name.contains(QLatin1String("night")))
    return TintedPalette(QColor(53, 56, 62), QColor(35, 37, 41), QColor(226, 228, 232), QColor(62, 66, 73),
                         QColor(64, 128, 200));
  if (name.contains(QLatin1String("blue")))
    return TintedPalette(QColor(214, 222, 236), QColor(246, 248, 252), QColor(20, 28, 44), QColor(200, 211, 230),
                         QColor(60, 100, 170));
  if (name.contains(QLatin1String("green")))
    return TintedPalette(QColor(216, 228, 214), QColor(248, 251, 247), QColor(22, 36, 20), QColor(203, 219, 200),
                         QColor(70, 130, 70));
  const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
  return fusion ? fusion->standardPalette() : QPalette();
}

TSkinManager::~TSkinManager() = default;

void TSkinManager::SetActive(bool Value) {
  if (Value == fActive) return;
  if (Value) {
    fPlainStyle = QApplication::style() != nullptr ? QApplication::style()->name() : QString();
    fPlainPalette = QApplication::palette();
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(SkinPalette(SkinName));
  } else {
    if (!fPlainStyle.isEmpty()) QApplication::setStyle(fPlainStyle);
    QApplication::setPalette(fPlainPalette);
  }
  fActive = Value;
}

}  // namespace quirlon::app

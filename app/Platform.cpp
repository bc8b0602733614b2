#include "app/Platform.h"

#include <QApplication>
#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QUrl>

namespace quirlon::app {

namespace {

QString gApplicationTitle = QStringLiteral("Quirlon 1.0");

QColor ToQColor(raster::TColor c) {
  const auto v = static_cast<std::uint32_t>(c);
  return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF));
}

raster::TColor FromQColor(const QColor& c) {
  return static_cast<raster::TColor>(static_cast<std::uint32_t>(c.red()) | (static_cast<std::uint32_t>(c.green()) << 8) |
                                     (static_cast<std::uint32_t>(c.blue()) << 16));
}

}  // namespace

QStringList QtNameFilters(const std::string& Filter) {
  const QStringList parts = QString::fromStdString(Filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString text = parts[i].trimmed();
    // Qt reads the patterns from the last parentheses: replace any shown there by the real list.
    if (text.endsWith(QLatin1Char(')'))) {
      const qsizetype open = text.lastIndexOf(QLatin1Char('('));
      if (open >= 0) text = text.left(open).trimmed();
    }
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << QStringLiteral("%1 (%2)").arg(text, patterns.simplified());
  }
  return filters;
}

std::optional<std::string> TQtWindowServices::OpenPicture(QWidget* Owner, const QString& Title,
                                                          const std::string& Filter, const std::string& Folder) {
  const QStringList filters = QtNameFilters(Filter);
  const QString name = QFileDialog::getOpenFileName(Owner, Title, QString::fromStdString(Folder),
                                                    filters.join(QStringLiteral(";;")));
  if (name.isEmpty()) return std::nullopt;
  return QFileInfo(name).absoluteFilePath().toStdString();
}

std::optional<TSaveAnswer> TQtWindowServices::SavePicture(QWidget* Owner, const std::string& Filter,
                                                          const std::string& DefaultExt,
                                                          const std::string& InitialName) {
  QFileDialog dialog(Owner);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QStringList filters = QtNameFilters(Filter);
  dialog.setNameFilters(filters);
  QString suffix = QString::fromStdString(DefaultExt);
  if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
  dialog.setDefaultSuffix(suffix);
  // A name typed without an extension takes the one of the entry chosen: "(*.jpg *.jpeg)" gives jpg.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& chosen) {
    const int star = chosen.indexOf(QStringLiteral("*."));
    if (star < 0) return;
    const int end = chosen.indexOf(QRegularExpression(QStringLiteral("[ );]")), star);
    dialog.setDefaultSuffix(chosen.mid(star + 2, end < 0 ? -1 : end - star - 2));
  });
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  dialog.setSizeGripEnabled(true);
  if (!InitialName.empty()) dialog.selectFile(QString::fromStdString(InitialName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const qsizetype chosen = filters.indexOf(dialog.selectedNameFilter());
  return TSaveAnswer{QFileInfo(dialog.selectedFiles().first()).absoluteFilePath().toStdString(),
                     chosen < 0 ? 0 : static_cast<std::size_t>(chosen)};
}

std::optional<raster::TColor> TQtWindowServices::ChooseColor(QWidget* Owner, raster::TColor Initial) {
  const QColor chosen = QColorDialog::getColor(ToQColor(Initial), Owner);
  if (!chosen.isValid()) return std::nullopt;
  return FromQColor(chosen);
}

void TQtWindowServices::PushBusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void TQtWindowServices::PopBusyPointer() { QApplication::restoreOverrideCursor(); }

void TQtWindowServices::ShowError(QWidget* Owner, const QString& Title, const QString& Message) {
  QMessageBox box(QMessageBox::Critical, Title, Message, QMessageBox::Ok, Owner);
  box.exec();
}

void TQtWindowServices::OpenDocument(const QString& Text) {
  // A plain path opens as a file, anything with a scheme as an address.
  const QUrl url = QUrl::fromUserInput(Text);
  QDesktopServices::openUrl(url);
}

QString ApplicationTitle() { return gApplicationTitle; }

void SetApplicationTitle(const QString& Title) {
  gApplicationTitle = Title;
  QApplication::setApplicationName(Title);
}

QString TitleFromExecutable(const std::string& ExecutableFileName) {
  QString name = QString::fromStdString(ExecutableFileName);
  const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
  if (slash >= 0) name = name.mid(slash + 1);
  if (name.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) name.chop(4);
  return name;
}

}  // namespace quirlon::app

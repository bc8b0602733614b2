#include "app/AboutDialog.h"

#include <QtGlobal>

#include "core/Platform.h"
#include "raster/Errors.h"

#ifndef QUIRLON_PNG_VERSION
#define QUIRLON_PNG_VERSION "unknown"
#endif
#ifndef QUIRLON_ZLIB_VERSION
#define QUIRLON_ZLIB_VERSION "unknown"
#endif
#ifndef QUIRLON_JPEG_VERSION
#define QUIRLON_JPEG_VERSION "unknown"
#endif
#ifndef QUIRLON_AGG_VERSION
#define QUIRLON_AGG_VERSION "unknown"
#endif
#ifndef QUIRLON_GIF_VERSION
#define QUIRLON_GIF_VERSION "unknown"
#endif
#ifndef QUIRLON_TIFF_VERSION
#define QUIRLON_TIFF_VERSION "unknown"
#endif
#ifndef QUIRLON_IMAGEMAGICK_VERSION
#define QUIRLON_IMAGEMAGICK_VERSION "unknown"
#endif

namespace quirlon::app {

namespace {

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, int left, int top, int width, int height, int pixels) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setObjectName(QString::fromLatin1(name));
  memo->setGeometry(left, top, width, height);
  memo->setFont(SansFont(pixels));
  QPalette palette = memo->palette();
  palette.setColor(QPalette::Base, QColor(197, 207, 235));
  palette.setColor(QPalette::Text, Qt::black);
  memo->setPalette(palette);
  memo->setAutoFillBackground(true);
  return memo;
}

}  // namespace

QString CreditsText() {
  const QStringList entries = {
      QStringLiteral("Qt %1\nGNU Lesser General Public License v3\nCopyright (C) The Qt Company Ltd. and other "
                     "contributors\nhttps://www.qt.io/")
          .arg(QString::fromLatin1(qVersion())),
      QStringLiteral("libpng " QUIRLON_PNG_VERSION "\nPNG Reference Library License version 2\nCopyright (c) 1995-2024 "
                     "The PNG Reference Library Authors\nhttp://www.libpng.org/pub/png/libpng.html"),
      QStringLiteral("zlib " QUIRLON_ZLIB_VERSION "\nzlib License\nCopyright (C) 1995-2022 Jean-loup Gailly and Mark "
                     "Adler\nhttps://zlib.net/"),
      QStringLiteral("libjpeg-turbo " QUIRLON_JPEG_VERSION "\nIJG License, Modified (3-clause) BSD License, zlib "
                     "License\nThis software is based in part on the work of the Independent JPEG Group.\nCopyright "
                     "(C) The libjpeg-turbo Project and its contributors\nhttps://libjpeg-turbo.org/"),
      QStringLiteral("Anti-Grain Geometry (AGG) " QUIRLON_AGG_VERSION "\nAGG 2.4: permission to copy, use, modify, "
                     "sell and distribute is granted provided this copyright notice appears in all copies\nCopyright "
                     "(C) 2002-2006 Maxim Shemanarev\nhttps://agg.sourceforge.net/antigrain.com/"),
      QStringLiteral("giflib " QUIRLON_GIF_VERSION "\nMIT License\nCopyright (c) 1997 Eric S. Raymond and the giflib "
                     "contributors\nhttps://giflib.sourceforge.net/"),
      QStringLiteral("libtiff " QUIRLON_TIFF_VERSION "\nlibtiff License (BSD-like)\nCopyright (c) 1988-1997 Sam "
                     "Leffler, Copyright (c) 1991-1997 Silicon Graphics, Inc.\nhttps://libtiff.gitlab.io/libtiff/"),
      QStringLiteral("ImageMagick (Magick++) " QUIRLON_IMAGEMAGICK_VERSION "\nImageMagick License\nCopyright (C) "
                     "1999 ImageMagick Studio LLC\nhttps://imagemagick.org/"),
  };
  return entries.join(QStringLiteral("\n---\n"));
}

AboutDialog::AboutDialog(TWindowServices& Services, std::string DataFolder, QWidget* Parent)
    : QDialog(Parent), fServices(Services), fDataFolder(std::move(DataFolder)) {
  setObjectName(QStringLiteral("aboutDialog"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString());
  setFixedSize(309, 226);
  setFont(SansFont(11));
  setModal(true);

  AboutPageControl = new QTabWidget(this);
  AboutPageControl->setObjectName(QStringLiteral("AboutPageControl"));
  AboutPageControl->setGeometry(0, 0, 309, 226);
  AboutPage = new QWidget;
  AboutPage->setObjectName(QStringLiteral("AboutPage"));
  LibrariesPage = new QWidget;
  LibrariesPage->setObjectName(QStringLiteral("LibrariesPage"));
  AboutPageControl->addTab(AboutPage, QStringLiteral("About"));
  AboutPageControl->addTab(LibrariesPage, QStringLiteral("Used libraries"));
  AboutPageControl->setCurrentIndex(0);

  sMemo2 = MakeMemo(AboutPage, "sMemo2", 0, 0, 300, 113, 11);
  sMemo2->setPlainText(QStringLiteral("sMemo2"));
  LogoImage = new TPictureBox(AboutPage);
  LogoImage->setObjectName(QStringLiteral("LogoImage"));
  LogoImage->setGeometry(0, 116, 300, 75);
  LogoImage->setCursor(Qt::PointingHandCursor);
  connect(LogoImage, &TPictureBox::Click, this, [this] { LogoImageClick(); });

  sMemo1 = MakeMemo(LibrariesPage, "sMemo1", 0, 0, 300, 197, 12);
  sMemo1->setReadOnly(true);
  sMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  sMemo1->setPlainText(CreditsText());

  FormCreate();
}

void AboutDialog::FormCreate() {
  try {
    const std::string data = fDataFolder + "Data" + core::kPathSeparator;
    const std::vector<std::string> about = core::ReadTextFileLines(data + "About.dat");
    QStringList lines;
    for (const std::string& line : about) lines << QString::fromStdString(line);
    sMemo2->setPlainText(lines.join(QLatin1Char('\n')));
    const std::vector<std::string> link = core::ReadTextFileLines(data + "LinkAdr.dat");
    if (link.empty()) throw EListError(Format(kEmptyLinkFile, (data + "LinkAdr.dat").c_str()));
    AboutLink = link.front();
    LogoImage->SetPicture(LoadPicture(data + "Logo.jpg"));
  } catch (const std::exception& e) {
    fServices.ShowError(this, ApplicationTitle(), QString::fromStdString(core::ErrorReportText(e.what())));
  }
}

void AboutDialog::ShowModalOver(QWidget* Owner) {
  if (Owner != nullptr) {
    const QRect frame = Owner->geometry();
    move(frame.center() - QPoint(width() / 2, height() / 2));
  }
  exec();
}

void AboutDialog::LogoImageClick() {
  if (AboutLink.empty()) return;
  fServices.OpenDocument(QString::fromStdString(AboutLink));
}

}  // namespace quirlon::app

// The user's own templates in the window's chooser: after the bundled ones, stepped to, rendered.
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.h"
#include "core/ProductJob.h"

namespace quirlon::app::test {

class AppUserTemplatesTest : public QObject {
  Q_OBJECT

private slots:
  void theChooserListsUserTemplatesAfterTheBundledOnes() {
    TTestServices services;
    TDataFolder data;
    data.KeepTemplates(2);
    QTemporaryDir user;
    const std::string userFolder = user.path().toStdString() + "/";
    // A template as quirlon-render --save-template writes it.
    core::TProductJob job;
    job.Kind = "hardcover";
    imagefiles::TPictureCache pictures;
    const std::string text = core::ProductTemplateText(
        core::BuildProductTemplate(job, nullptr, core::DefaultSlotSources(), pictures, imagefiles::kDefaultPicturePixels));
    {
      QFile file(QString::fromStdString(userFolder + "My hardcover.ini"));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(text.data(), static_cast<qint64>(text.size()));
    }
    MainWindow window(services, TAppPaths{data.Path(), "/opt/quirlon/maker.exe", userFolder, ""});
    ShowWindow(window);
    QCOMPARE(Ui(window).templateArrows->Max(), 3);
    QTest::mouseClick(Ui(window).templateArrows->NextButton(), Qt::LeftButton);
    QTest::mouseClick(Ui(window).templateArrows->NextButton(), Qt::LeftButton);
    QCOMPARE(window.State().Template, 3);
    QCOMPARE(Ui(window).templateName->text(), QStringLiteral("My hardcover"));
    Ui(window).outputWidth->setValue(160);
    Ui(window).outputHeight->setValue(120);
    QTest::mouseClick(Ui(window).apply, Qt::LeftButton);
    QVERIFY2(services.Errors.isEmpty(), qPrintable(services.Errors.join("; ")));
  }
};

QUIRLON_APP_TEST(AppUserTemplatesTest);

}  // namespace quirlon::app::test

#include "UserTemplatesTest.moc"

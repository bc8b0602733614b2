#pragma once
// The window-side platform services: the modal dialogs, the application-wide pointer, the error
// report and the desktop's "open" action. The window reaches them only through TWindowServices,
// so a test can answer the dialogs and watch the pointer without a person at the screen.
#include <optional>
#include <string>

#include <QString>

#include "raster/Color.h"

class QWidget;

namespace quirlon::app {

// What the save dialog answers: the file and the index of the filter entry chosen.
struct TSaveAnswer {
  std::string File;
  std::size_t Filter = 0;
};

class TWindowServices {
public:
  virtual ~TWindowServices() = default;

  // Open dialog for one existing file: Filter in "Text|patterns|Text|patterns" form, starting in
  // Folder ("": the dialog's own choice). The full path, or nothing on cancel.
  virtual std::optional<std::string> OpenPicture(QWidget* Owner, const QString& Title, const std::string& Filter,
                                                 const std::string& Folder = {}) = 0;
  // Save dialog: Filter as above (first entry selected); a name typed without an extension gets
  // the first extension of the chosen entry (DefaultExt, such as ".png", while the first is chosen);
  // an existing file is overwritten only after asking. InitialName is the last name chosen. The
  // full path and the chosen entry, or nothing on cancel.
  virtual std::optional<TSaveAnswer> SavePicture(QWidget* Owner, const std::string& Filter,
                                                 const std::string& DefaultExt, const std::string& InitialName) = 0;
  // Colour picker starting at Initial (0x00BBGGRR). The confirmed colour, or nothing on cancel.
  virtual std::optional<raster::TColor> ChooseColor(QWidget* Owner, raster::TColor Initial) = 0;

  // The busy pointer over every window of the program: pushed and popped in pairs.
  virtual void PushBusyPointer() = 0;
  virtual void PopBusyPointer() = 0;

  // Modal message box with an error icon and an OK button, titled Title.
  virtual void ShowError(QWidget* Owner, const QString& Title, const QString& Message) = 0;

  // Hands Text (a web address or a file) to the desktop to open; the result is not checked.
  virtual void OpenDocument(const QString& Text) = 0;
};

// The services of the running desktop (Qt's dialogs, override cursor, message box, desktop
// services).
class TQtWindowServices : public TWindowServices {
public:
  std::optional<std::string> OpenPicture(QWidget* Owner, const QString& Title, const std::string& Filter,
                                         const std::string& Folder = {}) override;
  std::optional<TSaveAnswer> SavePicture(QWidget* Owner, const std::string& Filter, const std::string& DefaultExt,
                                         const std::string& InitialName) override;
  std::optional<raster::TColor> ChooseColor(QWidget* Owner, raster::TColor Initial) override;
  void PushBusyPointer() override;
  void PopBusyPointer() override;
  void ShowError(QWidget* Owner, const QString& Title, const QString& Message) override;
  void OpenDocument(const QString& Text) override;
};

// Pushes the busy pointer for its lifetime, so the pointer comes back also when the work fails.
class TBusyPointer {
public:
  explicit TBusyPointer(TWindowServices& Services) : fServices(Services) { fServices.PushBusyPointer(); }
  ~TBusyPointer() { fServices.PopBusyPointer(); }
  TBusyPointer(const TBusyPointer&) = delete;
  TBusyPointer& operator=(const TBusyPointer&) = delete;

private:
  TWindowServices& fServices;
};

// "Text|patterns|Text|patterns" as Qt's name filters ("Text (patterns)" each, ";" turned into
// spaces), in order.
QStringList QtNameFilters(const std::string& Filter);

// The application title: it names the program and its main window, and titles the error report.
QString ApplicationTitle();
void SetApplicationTitle(const QString& Title);

// The main window's title after start-up: the executable's file name without its folder and
// without a trailing ".exe" when there is one ("maker.exe" gives "maker", "quirlon" stays).
QString TitleFromExecutable(const std::string& ExecutableFileName);

}  // namespace quirlon::app

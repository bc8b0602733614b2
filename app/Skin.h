#pragma once
// The program's look. The skin named in "Data/SkinName.dat" is our own: Qt's Fusion style with a
// palette chosen by the name. Switching it off gives the desktop's look back.
#include <string>

#include <QPalette>
#include <QString>

namespace quirlon::app {

// The palette for a skin name: names containing "dark", "black" or "night" give a dark palette,
// "blue" a blue-grey one, "green" a green-grey one, anything else Fusion's light palette. Case
// does not matter.
QPalette SkinPalette(const std::string& SkinName);

class TSkinManager {
public:
  TSkinManager() = default;
  TSkinManager(const TSkinManager&) = delete;
  TSkinManager& operator=(const TSkinManager&) = delete;
  ~TSkinManager();

  // The folder the skins would be read from (kept for the record; the look needs no files).
  std::string SkinDirectory;
  std::string SkinName;

  bool Active() const { return fActive; }
  // Applies or removes the look application-wide.
  void SetActive(bool Value);

private:
  bool fActive = false;
  QString fPlainStyle;
  QPalette fPlainPalette;
};

}  // namespace quirlon::app

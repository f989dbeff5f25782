#pragma once
// ConfigurationWindow: the modal, four-tab window in which the user edits every setting.
//
// Each control is bound to its field of the live `Configuration`: a change takes effect in
// memory as soon as the control accepts it. There is no OK or Cancel and nothing is saved
// here; the window closes through its close box and its effect is the changed record.
// Positions and sizes are in layout units of 2 device-independent pixels, measured from the
// window's top-left corner, on every tab alike.

#include <QDialog>
#include <QRect>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "core/settings/configuration.h"
#include "core/i18n/translate.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QTabWidget;
class QTimer;

namespace kelvor {

class AutoConfigurationBox;

class ConfigurationWindow : public QDialog {
  Q_OBJECT

 public:
  // Builds the window on `config`, takes its texts from section `config` of the language
  // file (setting `language.languageSection`), and reads the COM devices for the tooltips
  // from [PORTS] of `iniFilePath`.
  ConfigurationWindow(Configuration& config, Language& language, const std::string& iniFilePath,
                      QWidget* parent = nullptr);
  ~ConfigurationWindow() override;

  // Shows every control from the current values of the record.
  void display();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct Placement {
    QWidget* widget;
    QRect units;  // a width or height of 0 takes the control's natural size
  };
  struct Binding {
    std::function<void()> show;  // sets the control from its field
  };

  QWidget* addPage(const char* key, const char* builtIn, const char* picture);
  QGroupBox* addGroup(QWidget* page, const char* name, const char* key, const char* builtIn, QRect units);
  QCheckBox* addCheck(QWidget* parent, const char* name, const char* key, const char* builtIn, QRect units,
                      std::uint8_t& field);
  template <typename Field>
  QButtonGroup* addOptions(QGroupBox* group, const char* name, Field& field,
                           const std::vector<std::tuple<QString, long long, QPoint>>& choices);
  QLineEdit* addNumberEntry(QWidget* parent, const char* name, QRect units, std::int32_t& field);
  template <std::size_t N>
  QLineEdit* addTextEntry(QWidget* parent, const char* name, QRect units, Text<N>& field);
  QLineEdit* addPathEntry(QWidget* parent, const char* name, QRect units, PathText<250>& field);
  void addSoundFileButton(QWidget* parent, const char* name, QRect units, PathText<250>& field);
  void place(QWidget* widget, QRect units);
  void placeOnPages();
  void keepNaturalWidthsApart();
  QString text(const char* key, const char* builtIn) const;

  void buildPortTab();
  void buildDefineTab();
  void buildDdeTab();
  void buildSoundTab();

  void toggleAutoByFocus();
  void applyLineParameterLock();
  void chooseSoundFile(PathText<250>& field);
  void tick();

  Configuration& config_;
  Language& language_;
  std::string iniFilePath_;
  QTabWidget* tabs_ = nullptr;
  AutoConfigurationBox* autoBox_ = nullptr;
  QGroupBox* flowGroup_ = nullptr;
  std::vector<QWidget*> lineParameters_;
  std::vector<Placement> pagePlacements_;
  std::vector<Binding> bindings_;
  QTimer* timer_ = nullptr;
};

// Opens the window centred on the screen and returns when the user has closed it. The main
// window's ticks and DDE events wait meanwhile.
void openConfigurationWindow(Configuration& config, Language& language, const std::string& iniFilePath,
                             QWidget* parent);

}  // namespace kelvor

#pragma once

#include "panelcore_global.h"

#include <QString>

#include <memory>

namespace Bvr60600 {
class DModel;
}

// Builds the running system. panelapp, panelctl, the tools and the tests all
// start through here, so the sequence the user runs is the one the tests
// check. Constructing a Startup names the application, makes the chip model
// and files it, hands the manager its project, forces the start-up values of
// the settings and puts the default device in the project; for the window,
// showWindow() is the last step. The model lives as long as this object; the
// singletons made on the way live until the process ends.
class PANELCORE_EXPORT Startup
{
public:
    enum class Shell {
        // The QML window: the model published to QML before the view is
        // made, the theme, the log echoed on the console.
        Window,
        // The engine alone, for programs that own their output: never makes
        // the view nor touches QML, so a QCoreApplication suffices.
        Headless,
    };

    struct Options
    {
        Shell shell = Shell::Window;
        // The program's organisation and application names and version;
        // false keeps the caller's (panelctl keeps a name, and with it a
        // data folder, of its own).
        bool nameApplication = true;
        // Put in the project at every start; empty leaves the project empty.
        QString defaultDevice = QStringLiteral(":0x70:bvr60600");
        // Start-up values of the settings that differ for callers with no
        // user at the window (who must not have the manager write, scan or
        // reopen on its own).
        bool openLastProject = true;
        bool immediateMode = true;
        bool scanOpen = true;
        // The source tree from which a development build hot-reloads QML.
        QString sourceDir;
    };

    explicit Startup(const Options &options);
    // Deletes the model.
    ~Startup();
    Startup(const Startup &) = delete;
    Startup &operator=(const Startup &) = delete;

    Bvr60600::DModel *model() const { return m_model.get(); }

    // Loads the root document and shows the window; after a window was
    // deleted, makes and shows a new one. Window shell only.
    void showWindow();
    // The start-up values of the settings, the theme and the manager's modes,
    // as at start; each setter emits only on a real change.
    void forceSettings();

    // The program's names, display name and version. Called by the
    // constructor unless told not to; a caller that touches the settings
    // before starting calls it first, so that it reads the program's store.
    static void nameApplication();

    // panelapp: the application object, the start-up, the window, the event
    // loop; returns the loop's exit code.
    static int run(int argc, char **argv, const QString &sourceDir);

private:
    Options m_options;
    std::unique_ptr<Bvr60600::DModel> m_model;
};

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks of the program.
struct CommandLineRequest {
    enum class Action {
        Run,   // start the program
        Print, // print `text` on standard output and end successfully
        Fail,  // print `text` on standard error and end with a failure
    };
    Action action = Action::Run;
    QString text;
    // --camera-files when given (an empty list included): it wins over VORLANT_CAMERA_FILES.
    std::optional<QString> cameraFiles;
};

// Whether the arguments ask only for text (help or version), which needs no
// display: such a request is answered before the GUI application exists.
bool asksForTextOnly(int argc, const char *const *argv);

// Reads the program's arguments (the program name first); help and version
// win over other options and over mistakes in them.
CommandLineRequest parseCommandLine(const QStringList &arguments);

// "vorlant <version>".
QString versionText();

#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace tallybrook::ui {

// Every save panel of the desk goes through here. The panel is window-modal and never blocks: `done` runs
// once with the chosen path, or with nothing when the person cancelled, and never after `parent` is gone.
// Tests queue the answers with setNextFileName(), so no panel ever waits for a click that will not come.
class SavePanel final {
public:
    struct Request {
        QString title;
        QString proposedName; // without the extension, which the panel adds
        QString nameFilter;   // "Comma-separated text (*.csv)"
        QString suffix;       // "csv"
    };
    using Done = std::function<void(const std::optional<QString> &path)>;

    static void choose(QWidget *parent, const Request &request, Done done);

    // The next panel answers with this path, or cancels when given nothing (tests only).
    static void setNextFileName(const std::optional<QString> &path);
    static void clearNextFileNames();

    SavePanel() = delete;
};

} // namespace tallybrook::ui

#pragma once

#include "model/AppModel.h"

class QSettings;

namespace tallybrook {
class CloudClient;
class BadgePrinter;
namespace platform {
class UrlOpener;
}
} // namespace tallybrook

namespace tallybrook::ui {

// What every window of the desk is given: the one application model (with its backend client and badge
// printer), the computer's preferences and the platform services views reach for. Views never create these.
struct Environment {
    AppModel &model;
    QSettings &defaults;
    platform::UrlOpener &urlOpener;

    [[nodiscard]] CloudClient &cloud() const { return model.cloud(); }
    [[nodiscard]] BadgePrinter &printer() const { return model.printer(); }
};

} // namespace tallybrook::ui

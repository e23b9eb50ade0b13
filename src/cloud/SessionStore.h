#pragma once

#include "cloud/CloudSession.h"

#include <optional>

namespace tallybrook {

// Where the session waits between launches. Neither operation reports failure: a session that cannot be
// stored is still used while the desk runs, and one that cannot be read means signed out.
class SessionStore {
public:
    virtual ~SessionStore() = default;

    [[nodiscard]] virtual std::optional<CloudSession> load() = 0;
    // Stores the session, or deletes the stored one when given nothing.
    virtual void save(const std::optional<CloudSession> &session) = 0;
};

} // namespace tallybrook

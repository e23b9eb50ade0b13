#include "records/DeskError.h"

namespace tallybrook {

DeskError::DeskError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}

} // namespace tallybrook

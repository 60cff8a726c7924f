#pragma once
// The core speaks UTF-8; Qt speaks QString.
#include <QFont>
#include <QString>
#include <string>

namespace norvale::ui {

inline QString qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
inline QString qs(const char* text) { return QString::fromUtf8(text); }
inline std::string u8(const QString& text) { return text.toUtf8().toStdString(); }

// The list boxes ask for this face; the others are its fallbacks where it is not installed.
QFont listFont();

}  // namespace norvale::ui

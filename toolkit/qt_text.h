#pragma once
// Text across the toolkit's edge: the program keeps UTF-8 std::string, Qt
// keeps QString. Only the toolkit's own sources include this.

#include <string>

#include <QByteArray>
#include <QString>

namespace toolkit {

inline QString ToQString(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQString(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace toolkit

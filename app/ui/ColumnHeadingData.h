// What a list's table model answers from a column's heading: the heading's text,
// and the alignment shared by the heading and the column's cells.
#pragma once

#include "ColumnHeading.h"

#include <QString>
#include <QVariant>

namespace tavrin::ui {

inline QVariant columnAlignment(const ColumnHeading& heading) {
    return QVariant::fromValue(
        Qt::Alignment((heading.rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
}

// The heading's text and alignment; nothing for other roles.
inline QVariant headingData(const ColumnHeading& heading, int role) {
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(heading.text);
    if (role == Qt::TextAlignmentRole)
        return columnAlignment(heading);
    return {};
}

} // namespace tavrin::ui

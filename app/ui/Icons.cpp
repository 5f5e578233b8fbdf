#include "Icons.h"

// The resources sit in a static library: the linker keeps them only when named.
static void initResources() {
    Q_INIT_RESOURCE(tavrin);
}

namespace tavrin::ui {

namespace {

void ensureResources() {
    static const bool done = (initResources(), true);
    (void)done;
}

} // namespace

QIcon programIcon() {
    ensureResources();
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/tavrin-%1.png").arg(size), QSize(size, size));
    return icon;
}

QIcon filterEnabledIcon() {
    ensureResources();
    // The @2x file is picked up by itself on high-density screens.
    return QIcon(QStringLiteral(":/icons/filter-enabled.png"));
}

QIcon filterDisabledIcon() {
    ensureResources();
    return QIcon(QStringLiteral(":/icons/filter-disabled.png"));
}

} // namespace tavrin::ui

#pragma once

#include <QWidget>

#include <cstdint>

namespace orvkit {

// The top-level window of this process whose native id is `handle`, the owner that the splash
// and the tip dialog are given; null for 0 or for an id that names no window of ours. GUI
// thread only.
inline QWidget *ownerWindow(std::uintptr_t handle)
{
    if (handle == 0)
        return nullptr;
    QWidget *widget = QWidget::find(static_cast<WId>(handle));
    return widget ? widget->window() : nullptr;
}

} // namespace orvkit

// TKwStatus: the window's status bar, on which other widgets can be placed as its children.
#pragma once

#include <QStatusBar>

class TKwStatus : public QStatusBar {
    Q_OBJECT

public:
    explicit TKwStatus(QWidget* parent = nullptr);
};

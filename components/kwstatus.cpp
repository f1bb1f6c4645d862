#include "components/kwstatus.h"

// Every Qt widget can hold children, so the status bar needs nothing beyond QStatusBar itself.
TKwStatus::TKwStatus(QWidget* parent) : QStatusBar(parent) {}

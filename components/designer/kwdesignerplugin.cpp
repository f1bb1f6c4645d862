#include "kwdesignerplugin.h"

#include "components/kwdigianz.h"
#include "components/kwstatus.h"
#include "controls/gradientprogressbar.h"

#include <QIcon>

#include <utility>

KwDesignerWidget::KwDesignerWidget(QString name, QString includeFile, QString toolTip, Factory factory,
                                   bool container, QObject* parent)
    : QObject(parent),
      name_(std::move(name)),
      includeFile_(std::move(includeFile)),
      toolTip_(std::move(toolTip)),
      factory_(std::move(factory)),
      container_(container) {}

QIcon KwDesignerWidget::icon() const { return QIcon(); }

QString KwDesignerWidget::domXml() const {
    // The object name Designer gives a new instance: the class name without its "T", lower first.
    QString objectName = name_.mid(name_.startsWith(QLatin1Char('T')) ? 1 : 0);
    if (!objectName.isEmpty()) objectName[0] = objectName[0].toLower();
    return QStringLiteral("<ui language=\"c++\"><widget class=\"%1\" name=\"%2\"/></ui>").arg(name_, objectName);
}

KwDesignerPlugin::KwDesignerPlugin(QObject* parent) : QObject(parent) {
    // One line per control.
    add<TKwDigianz>("TKwDigianz", "kwdigianz.h", "Dot-matrix display for digits and percent");
    add<TKwDigianz2>("TKwDigianz2", "kwdigianz.h", "Empty graphic control");
    add<TGradientProgressBar>("TGradientProgressBar", "gradientprogressbar.h",
                              "Progress bar: solid, blocks, gradient, gradient blocks or tiled pictures");
    add<TKwStatus>("TKwStatus", "kwstatus.h", "Status bar that holds other widgets", true);
}

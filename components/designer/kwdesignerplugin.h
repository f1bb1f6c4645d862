// Qt Designer plugin that puts the library's visual controls into the widget box group "Marvane".
#pragma once

#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// One control as Designer sees it: name, header, tooltip and how to create it.
class KwDesignerWidget : public QObject, public QDesignerCustomWidgetInterface {
    Q_OBJECT
    Q_INTERFACES(QDesignerCustomWidgetInterface)

public:
    using Factory = std::function<QWidget*(QWidget* parent)>;
    // container: other widgets can be dropped onto the control.
    KwDesignerWidget(QString name, QString includeFile, QString toolTip, Factory factory, bool container,
                     QObject* parent);

    QString name() const override { return name_; }
    QString group() const override { return QStringLiteral("Marvane"); }
    QString toolTip() const override { return toolTip_; }
    QString whatsThis() const override { return toolTip_; }
    QString includeFile() const override { return includeFile_; }
    QIcon icon() const override;
    bool isContainer() const override { return container_; }
    QWidget* createWidget(QWidget* parent) override { return factory_(parent); }
    bool isInitialized() const override { return initialized_; }
    void initialize(QDesignerFormEditorInterface*) override { initialized_ = true; }
    QString domXml() const override;

private:
    QString name_, includeFile_, toolTip_;
    Factory factory_;
    bool container_ = false;
    bool initialized_ = false;
};

// The collection Designer loads: every visual control of the library.
class KwDesignerPlugin : public QObject, public QDesignerCustomWidgetCollectionInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
    Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

public:
    explicit KwDesignerPlugin(QObject* parent = nullptr);
    QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return widgets_; }

private:
    template <class Control>
    void add(const QString& name, const QString& includeFile, const QString& toolTip, bool container = false) {
        widgets_.append(new KwDesignerWidget(
            name, includeFile, toolTip, [](QWidget* parent) { return new Control(parent); }, container, this));
    }

    QList<QDesignerCustomWidgetInterface*> widgets_;
};

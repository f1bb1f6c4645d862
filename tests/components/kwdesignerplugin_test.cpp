#include "qtsupport.h"

#include <gtest/gtest.h>

#include <QPluginLoader>
#include <QWidget>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <memory>

namespace {

TEST(KwDesignerPlugin, OffersTheVisualControlsInTheMarvaneGroup) {
    QPluginLoader loader(FOLVIO_BINARY_DIR "/plugins/designer/libfolvio_designer_plugin.so");
    QObject* instance = loader.instance();
    ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(instance);
    ASSERT_NE(collection, nullptr);

    QStringList names;
    for (QDesignerCustomWidgetInterface* w : collection->customWidgets()) {
        names << w->name();
        EXPECT_EQ(w->group(), "Marvane");
        EXPECT_EQ(w->isContainer(), w->name() == "TKwStatus") << "only the status bar holds other widgets";
        EXPECT_TRUE(w->domXml().contains("class=\"" + w->name() + "\""));
        w->initialize(nullptr);
        EXPECT_TRUE(w->isInitialized());
        std::unique_ptr<QWidget> widget(w->createWidget(nullptr));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(QString(widget->metaObject()->className()), w->name());
    }
    EXPECT_EQ(names, QStringList({"TKwDigianz", "TKwDigianz2", "TGradientProgressBar", "TKwStatus"}));
    EXPECT_EQ(collection->customWidgets()[2]->includeFile(), "gradientprogressbar.h");

    std::unique_ptr<QWidget> display(collection->customWidgets().first()->createWidget(nullptr));
    EXPECT_EQ(display->property("Text").toString(), "100%") << "Designer edits the published properties";
    EXPECT_EQ(display->property("NumChars").toInt(), 4);
    std::unique_ptr<QWidget> bar(collection->customWidgets()[2]->createWidget(nullptr));
    EXPECT_EQ(bar->property("Style").toString(), "sRectangles") << "the bar's styles are offered by name";
    EXPECT_EQ(bar->property("Max").toInt(), 100);
}

}  // namespace

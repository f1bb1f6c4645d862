// Uses one unit of each installed library: the parser, the scrambler and the settings store
// (Marvane::Components), the dot-matrix display (Marvane::ComponentsQt) and the progress bar
// (Marvane::Controls). Prints what each gave; the caller compares it.
#include "components/kwdigianz.h"
#include "components/kwkeey.h"
#include "components/kwparser.h"
#include "components/kwreg.h"
#include "controls/gradientprogressbar.h"

#include <QApplication>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
    TKwParser parser;
    parser.Expression = "2+3*4";
    if (!parser.CreateTree()) return 1;
    std::printf("parser: %.0Lf\n", parser.Evaluate());

    TKwKeey keey;
    keey.Schluessel = "consumer";
    const std::string scrambled = keey.Encode("secret");
    std::printf("scrambler: %s\n", keey.Decode(scrambled) == "secret" && scrambled != "secret" ? "round trip" : "broken");

    TKwReg reg{"Marvane", "Consumer"};
    reg.Push("Greeting", "hello");
    std::printf("settings: %s\n", reg.Pop("Greeting").c_str());

    QApplication app(argc, argv);
    TKwDigianz display;
    display.setText("42");
    display.resize(120, 40);
    TGradientProgressBar bar;
    bar.SetPosition(50);
    bar.resize(200, 21);
    const bool drawn = !display.grab().toImage().isNull() && !bar.grab().toImage().isNull();
    std::printf("widgets: %s\n", drawn ? "drawn" : "not drawn");
    return 0;
}

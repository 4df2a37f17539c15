// bench-bare-window: what the tester is measured against, a plain Qt Widgets program with
// nothing of its own.
//
//   bench-bare-window window   a window of the tester's size and about thirty widgets of the
//                              kinds the tester's window is made of (labels, wrapping notes,
//                              sliders with value texts, push and tool buttons, a line edit, a
//                              checkbox, a progress bar, a scroll area), in the default style,
//                              shown at once
//   bench-bare-window slider   one QSlider (0 to 10000, the tester's percentage resolution) at
//                              sliderGeometry in a window of windowSize, nothing else
//
// It writes nothing and talks to nobody; it runs until it is sent SIGTERM.

#include "BareWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

using namespace bench::bare;

QWidget *sliderRow(const QString &title, QWidget *parent) {
    auto *row = new QWidget(parent);
    auto *column = new QVBoxLayout(row);
    column->setContentsMargins(0, 0, 0, 0);
    auto *header = new QHBoxLayout;
    header->addWidget(new QLabel(title, row));
    header->addStretch(1);
    auto *value = new QLabel(QStringLiteral("50%"), row);
    header->addWidget(value);
    column->addLayout(header);
    auto *slider = new QSlider(Qt::Horizontal, row);
    slider->setRange(0, 10000);
    slider->setValue(5000);
    QObject::connect(slider, &QSlider::valueChanged, value,
                     [value](int position) { value->setText(QString::number(position / 100) + u'%'); });
    column->addWidget(slider);
    return row;
}

QWidget *bareWindow() {
    auto *window = new QWidget;
    window->setWindowTitle(QStringLiteral("Bare window"));
    auto *root = new QHBoxLayout(window);

    auto *sidebar = new QVBoxLayout;
    sidebar->addWidget(new QLabel(QStringLiteral("Vibrelle"), window));
    sidebar->addWidget(new QLabel(QStringLiteral("PROVE"), window));
    for (const char *section : {"Risonanza", "Impulsi", "Biliardo"}) {
        auto *button = new QPushButton(QString::fromUtf8(section), window);
        button->setFlat(true);
        sidebar->addWidget(button);
    }
    sidebar->addStretch(1);
    sidebar->addWidget(new QToolButton(window));
    root->addLayout(sidebar);

    auto *main = new QVBoxLayout;
    auto *connection = new QHBoxLayout;
    connection->addWidget(new QLabel(QStringLiteral("Da collegare"), window));
    connection->addWidget(new QLineEdit(QStringLiteral("http://127.0.0.1:59723"), window));
    connection->addWidget(new QPushButton(QStringLiteral("Verifica"), window));
    main->addLayout(connection);
    auto *status = new QLabel(QStringLiteral("Collegamento al servizio API locale…"), window);
    status->setWordWrap(true);
    main->addWidget(status);

    auto *scroll = new QScrollArea(window);
    scroll->setWidgetResizable(true);
    auto *content = new QWidget(scroll);
    auto *column = new QVBoxLayout(content);
    column->addWidget(new QLabel(QStringLiteral("Risonanza"), content));
    auto *description =
        new QLabel(QStringLiteral("Esplora un effetto continuo e modifica i parametri dal vivo."), content);
    description->setWordWrap(true);
    column->addWidget(description);
    for (const char *title : {"Intensità", "Cadenza", "Nitidezza", "Transizione"}) {
        column->addWidget(sliderRow(QString::fromUtf8(title), content));
    }
    auto *buttons = new QHBoxLayout;
    for (const char *text : {"Avvia", "Pausa", "Ferma"}) {
        buttons->addWidget(new QPushButton(QString::fromUtf8(text), content));
    }
    buttons->addStretch(1);
    column->addLayout(buttons);
    auto *charge = new QHBoxLayout;
    auto *bar = new QProgressBar(content);
    bar->setValue(0);
    charge->addWidget(bar, 1);
    charge->addWidget(new QCheckBox(QStringLiteral("Impulso al rilascio"), content));
    column->addLayout(charge);
    auto *note = new QLabel(QStringLiteral("Tensione continua, anche con il dito fermo. La cadenza regola gli "
                                           "impulsi al secondo."),
                            content);
    note->setWordWrap(true);
    column->addWidget(note);
    column->addStretch(1);
    scroll->setWidget(content);
    main->addWidget(scroll, 1);

    auto *footer = new QHBoxLayout;
    footer->addWidget(new QToolButton(window));
    footer->addStretch(1);
    footer->addWidget(new QLabel(QStringLiteral("Audio materico spento"), window));
    footer->addWidget(new QPushButton(QStringLiteral("Ferma tutto"), window));
    main->addLayout(footer);
    root->addLayout(main, 1);
    window->resize(840, 740);
    return window;
}

QWidget *bareSlider() {
    auto *window = new QWidget;
    window->setWindowTitle(QStringLiteral("Bare slider"));
    window->setFixedSize(sliderX * 2 + sliderWidth, sliderY * 2 + sliderHeight);
    auto *slider = new QSlider(Qt::Horizontal, window);
    slider->setRange(0, 10000);
    slider->setValue(5000);
    slider->setGeometry(sliderX, sliderY, sliderWidth, sliderHeight);
    return window;
}

} // namespace

int main(int argc, char *argv[]) {
    const bool slider = argc == 2 && std::strcmp(argv[1], "slider") == 0;
    if (argc != 2 || (!slider && std::strcmp(argv[1], "window") != 0)) {
        std::fprintf(stderr, "usage: bench-bare-window window|slider\n");
        return 2;
    }
    QApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    QWidget *window = slider ? bareSlider() : bareWindow();
    window->show();
    return app.exec();
}

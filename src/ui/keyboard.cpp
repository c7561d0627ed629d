#include "ui/keyboard.h"

#include "ui/key.h"

#include <QBoxLayout>
#include <QIcon>

namespace {

const char *const english[Keyboard::kLetterKeys] = {
    "Q", "W", "E", "R", "T", "Y", "U", "I", "O", "P",
    "A", "S", "D", "F", "G", "H", "J", "K", "L",
    "Z", "X", "C", "V", "B", "N", "M",
};

// "&&" is the button escape of a literal ampersand; the key commits one.
const char *const number[Keyboard::kLetterKeys] = {
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
    "#", "$", "%", "&&", "=", "+", "-", "*", "/",
    "?", "!", ":", ";", "\"", "(", ")",
};

const int kRowLengths[3] = {10, 9, 7};
const int kKeyHeight = 60;
const int kLetterWidth = 75;
const int kFunctionWidth = 105;
const int kSpaceWidth = 412;

const char *const kStyle =
    "Keyboard { background: #E4E7EB; }"
    "QToolButton#KEYBOARD { background: #FFFFFF; color: #1F2328; border: 1px solid #C4CAD1;"
    " border-radius: 6px; }"
    "QToolButton#KEYBOARD:pressed { background: #1769AA; color: #FFFFFF; }"
    "QToolButton#KEYBOARD[function=\"true\"] { background: #CDD3DA; }"
    "QToolButton#KEYBOARD[primary=\"true\"] { background: #1769AA; color: #FFFFFF;"
    " border-color: #0F4F85; }"
    "QToolButton#KEYBOARD[primary=\"true\"]:pressed { background: #0F4F85; }";

QHBoxLayout *centredRow()
{
    auto *row = new QHBoxLayout;
    row->setSpacing(4);
    row->addStretch();
    return row;
}

} // namespace

Keyboard::Keyboard(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                          | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("Keyboard"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_StyledBackground);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(kWidth, kHeight);
    setStyleSheet(QString::fromLatin1(kStyle));

    auto *rows = new QVBoxLayout(this);
    rows->setSpacing(5);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->addStretch();
    int letter = 0;
    for (int r = 0; r < 3; ++r) {
        QHBoxLayout *row = centredRow();
        if (r == 2) {
            m_caps = addKey(QStringLiteral("CAPS"), kFunctionWidth);
            row->addWidget(m_caps);
        }
        for (int i = 0; i < kRowLengths[r]; ++i, ++letter) {
            m_letters[letter] = addKey(QString::fromLatin1(english[letter]), kLetterWidth);
            row->addWidget(m_letters[letter]);
        }
        if (r == 2) {
            m_del = addKey(QStringLiteral("DEL"), kFunctionWidth);
            row->addWidget(m_del);
        }
        row->addStretch();
        rows->addLayout(row);
    }
    QHBoxLayout *bottom = centredRow();
    m_mode = addKey(QStringLiteral(".?123"), kFunctionWidth);
    m_comma = addKey(QStringLiteral(","), kLetterWidth);
    m_space = addKey(QStringLiteral("SPACE"), kSpaceWidth);
    m_stop = addKey(QStringLiteral("."), kLetterWidth);
    m_done = addKey(QStringLiteral("DONE"), kFunctionWidth);
    for (Key *key : {m_mode, m_comma, m_space, m_stop, m_done})
        bottom->addWidget(key);
    bottom->addStretch();
    rows->addLayout(bottom);
    rows->addStretch();

    for (Key *key : {m_caps, m_del, m_mode})
        key->setProperty("function", true);
    m_done->setProperty("primary", true);
    setShiftIcon(false);

    for (Key *key : keys()) {
        if (key == m_mode)
            connect(key, &Key::clicked, this, &Keyboard::modeKeyClicked);
        else
            connect(key, &Key::clicked, this, [this, key] { emit keyClicked(mappingFor(key)); });
    }
}

Key *Keyboard::addKey(const QString &text, int width)
{
    return new Key(text, width, kKeyHeight, this);
}

QList<Key *> Keyboard::keys() const
{
    QList<Key *> all(std::begin(m_letters), std::end(m_letters));
    all << m_caps << m_del << m_mode << m_comma << m_space << m_stop << m_done;
    return all;
}

QString Keyboard::mappingFor(const Key *key) const
{
    if (key == m_comma)
        return QStringLiteral(",");
    if (key == m_stop)
        return QStringLiteral(".");
    if (key == m_space)
        return QStringLiteral(" ");
    return key->text();
}

void Keyboard::setNumberMode(bool on)
{
    m_numberMode = on;
    const char *const *texts = on ? number : english;
    for (int i = 0; i < kLetterKeys; ++i)
        m_letters[i]->setText(QString::fromLatin1(texts[i]));
    m_mode->setText(on ? QStringLiteral("abc") : QStringLiteral(".?123"));
    m_caps->setText(on ? QStringLiteral("@") : QStringLiteral("CAPS"));
    setShiftIcon(m_shiftIcon);
}

void Keyboard::setShiftIcon(bool on)
{
    m_shiftIcon = on;
    if (m_numberMode)
        m_caps->setIcon(QIcon());
    else
        m_caps->setIcon(QIcon(on ? QStringLiteral(":/on.png") : QStringLiteral(":/off.png")));
}

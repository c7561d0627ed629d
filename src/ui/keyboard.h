// The key grid of the on-screen keyboard: three letter rows (10, 9 and 7
// keys, the third between CAPS and DEL) and a bottom row with the mode key,
// comma, SPACE, full stop and DONE. It is a window of its own that never takes
// the focus, so the text field being edited keeps it.
#pragma once

#include <QWidget>

class Key;

class Keyboard : public QWidget
{
    Q_OBJECT

public:
    static const int kLetterKeys = 26;
    static const int kWidth = 800;
    static const int kHeight = 280;

    explicit Keyboard(QWidget *parent = nullptr);

    // Letter texts or the number texts; the mode and CAPS keys follow.
    void setNumberMode(bool on);
    // The CAPS key's icon in letter mode.
    void setShiftIcon(bool on);

    // What a key stands for, read at the moment it is clicked.
    QString mappingFor(const Key *key) const;

    Key *letterKey(int i) const { return m_letters[i]; }
    Key *capsKey() const { return m_caps; }
    Key *modeKey() const { return m_mode; }
    QList<Key *> keys() const;

signals:
    // A key other than the mode key, with its mapping.
    void keyClicked(const QString &text);
    void modeKeyClicked();

private:
    Key *addKey(const QString &text, int width);

    Key *m_letters[kLetterKeys] = {};
    Key *m_caps = nullptr;
    Key *m_del = nullptr;
    Key *m_mode = nullptr;
    Key *m_comma = nullptr;
    Key *m_space = nullptr;
    Key *m_stop = nullptr;
    Key *m_done = nullptr;
    bool m_numberMode = false;
    bool m_shiftIcon = false;
};

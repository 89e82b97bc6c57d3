#pragma once
// Window tests: the English words an operator would see in a window, read
// from every caption, item, header and accessible name it holds.
#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QWidget>

#include <string>
#include <vector>

namespace kv::test {

// Words left over from the programs the dialogs were first written for.
inline const QStringList& KnownEnglishWords()
{
    static const QStringList words = {"setup", "settings", "cancel", "ok", "none", "baud", "rate", "parity",
                                      "stop", "data", "bits", "flow", "control", "port", "password",
                                      "custom", "hardware", "software", "odd", "even", "mark", "space",
                                      "true", "false", "yes", "no", "apply", "close"};
    return words;
}

// Each finding as "<object name>: <text>".
inline std::vector<std::string> EnglishTextsIn(const QWidget& window)
{
    std::vector<std::string> found;
    auto check = [&](const QObject* owner, const QString& text) {
        static const QRegularExpression latinWord(QStringLiteral("[A-Za-z]+"));
        for (auto it = latinWord.globalMatch(text); it.hasNext();)
            if (KnownEnglishWords().contains(it.next().captured().toLower())) {
                found.push_back(owner->objectName().toStdString() + ": " + text.toStdString());
                return;
            }
    };
    QList<const QWidget*> widgets{&window};
    for (const QWidget* w : window.findChildren<QWidget*>())
        widgets << w;
    for (const QWidget* w : widgets) {
        check(w, w->windowTitle());
        check(w, w->accessibleName());
        check(w, w->toolTip());
        if (auto* b = qobject_cast<const QAbstractButton*>(w))
            check(w, b->text());
        if (auto* l = qobject_cast<const QLabel*>(w))
            check(w, l->text());
        if (auto* g = qobject_cast<const QGroupBox*>(w))
            check(w, g->title());
        if (auto* e = qobject_cast<const QLineEdit*>(w))
            check(w, e->placeholderText());
        if (auto* c = qobject_cast<const QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                check(w, c->itemText(i));
        if (auto* t = qobject_cast<const QTabWidget*>(w))
            for (int i = 0; i < t->count(); ++i)
                check(w, t->tabText(i));
        if (auto* h = qobject_cast<const QHeaderView*>(w); h && h->model())
            for (int i = 0; i < h->count(); ++i)
                check(w, h->model()->headerData(i, h->orientation(), Qt::DisplayRole).toString());
    }
    return found;
}

} // namespace kv::test

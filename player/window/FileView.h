#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QStringList>
#include <QTreeView>

// The file view: one column of captions, each with the same symbol. The captions live in one
// list behind a model of our own, so a folder of tens of thousands of songs is shown (and
// replaced by the next) at the cost of handing over that list, not of one item object per
// file. A widget: UI thread only.
class TFileView : public QTreeView {
    Q_OBJECT

public:
    explicit TFileView(QWidget *parent = nullptr);

    // Replaces every row by `captions`, in that order, each shown with `symbol`; nothing is
    // selected afterwards.
    void setCaptions(QStringList captions, const QIcon &symbol);
    void clear();

    int count() const;
    QString caption(int row) const;
    const QStringList &captions() const;

    void setRowSelected(int row, bool selected);
    // The rectangle of `row` in viewport coordinates (empty when the row is not laid out).
    QRect rowRect(int row) const;
    // Whether `at` (viewport coordinates) lies on a row.
    bool hasRowAt(QPoint at) const;

Q_SIGNALS:
    // A row was double-clicked.
    void rowDoubleClicked(int row);

private:
    class Model;
    Model *m_model;
};

#include "FileView.h"

#include <QHeaderView>
#include <QItemSelectionModel>

class TFileView::Model : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void reset(QStringList captions, const QIcon &symbol)
    {
        beginResetModel();
        m_captions = std::move(captions);
        m_symbol = symbol;
        endResetModel();
    }

    const QStringList &captions() const { return m_captions; }

    int rowCount(const QModelIndex &parent) const override
    {
        return parent.isValid() ? 0 : int(m_captions.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_captions.size())
            return {};
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return m_captions.at(index.row());
        case Qt::DecorationRole:
            return m_symbol;
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return QStringLiteral("Filename");
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        if (!index.isValid())
            return Qt::ItemIsDropEnabled;
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    }

private:
    QStringList m_captions;
    QIcon m_symbol;
};

TFileView::TFileView(QWidget *parent)
    : QTreeView(parent)
    , m_model(new Model(this))
{
    setModel(m_model);
    // Every row is one line of text beside a 16x16 symbol: the view need not measure each row,
    // which is what keeps a huge folder cheap to lay out.
    setUniformRowHeights(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    header()->setVisible(false);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            Q_EMIT rowDoubleClicked(index.row());
    });
}

void TFileView::setCaptions(QStringList captions, const QIcon &symbol)
{
    m_model->reset(std::move(captions), symbol);
    clearSelection();
}

void TFileView::clear()
{
    m_model->reset({}, {});
}

int TFileView::count() const
{
    return int(m_model->captions().size());
}

QString TFileView::caption(int row) const
{
    return m_model->captions().value(row);
}

const QStringList &TFileView::captions() const
{
    return m_model->captions();
}

void TFileView::setRowSelected(int row, bool selected)
{
    const QModelIndex index = m_model->index(row, 0);
    if (!index.isValid())
        return;
    selectionModel()->select(index,
        (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect)
            | QItemSelectionModel::Rows);
}

QRect TFileView::rowRect(int row) const
{
    return visualRect(m_model->index(row, 0));
}

bool TFileView::hasRowAt(QPoint at) const
{
    return indexAt(at).isValid();
}

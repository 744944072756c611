#pragma once

#include <list>
#include <memory>
#include <set>
#include <string>

#include <QDialog>

#include "Data.h"

namespace Ui {
class TypeNavigatorDialog;
}

// A developer's tool: every chain of relations, at most six long and never passing a type twice,
// from a source type to a target type, shortest first. At most one exists; it frees itself when
// closed.
class TypeNavigatorDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TypeNavigatorDialog(QWidget* ip_parent = nullptr, Data* ip_store = &d);
    ~TypeNavigatorDialog() override;

    // Offers every type as a source; called once, after construction.
    void Init();
    // Adds to `io_related` the names of the types reachable from `i_typeName`, its direct
    // relations lying at depth `i_depth` and nothing beyond depth six.
    void GetRelatedTypes(const std::string& i_typeName, std::set<std::string>& io_related,
                         int i_depth);
    // Records in foundChains every chain from `i_current` to `i_target` that extends `io_chain`.
    void FindPath(const std::string& i_current, const std::string& i_target,
                  std::list<std::string>& io_chain);

public slots:
    void onFromTypeSelectionChanged(const QString& i_source);
    void onToTypeSelectionChanged(const QString& i_target);

private:
    QString ChainLine(const std::list<std::string>& i_chain) const;

    std::unique_ptr<Ui::TypeNavigatorDialog> ui;
    std::list<std::list<std::string>> foundChains;
    Data* store;
};

// The open type navigator, or null.
extern TypeNavigatorDialog* typeNavigatorDialog;

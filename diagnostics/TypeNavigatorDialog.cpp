#include "TypeNavigatorDialog.h"

#include <algorithm>
#include <map>
#include <vector>

#include "ui_TypeNavigatorDialog.h"

TypeNavigatorDialog* typeNavigatorDialog = nullptr;

namespace {
const int maxRelations = 6;
const size_t maxChainTypes = maxRelations + 1;

QString Bold(const std::string& i_typeName)
{
    return "<b>" + QString::fromLatin1(i_typeName.c_str()).toHtmlEscaped() + "</b>";
}
} // namespace

TypeNavigatorDialog::TypeNavigatorDialog(QWidget* ip_parent, Data* ip_store)
    : QDialog(ip_parent), ui(new Ui::TypeNavigatorDialog), store(ip_store)
{
    ui->setupUi(this);
    typeNavigatorDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
}

TypeNavigatorDialog::~TypeNavigatorDialog()
{
    if (typeNavigatorDialog == this)
        typeNavigatorDialog = nullptr;
}

void TypeNavigatorDialog::Init()
{
    std::map<std::string, Type*> types;
    store->GetTypes(types);
    // The first name appended becomes current, which fills the target box and the chart.
    for (const auto& type : types)
        ui->fromTypeBox->addItem(QString::fromLatin1(type.first.c_str()));
}

void TypeNavigatorDialog::GetRelatedTypes(const std::string& i_typeName,
                                          std::set<std::string>& io_related, int i_depth)
{
    // Breadth first, each type expanded once at its shortest distance: the same types as trying
    // every walk of up to six relations, without the cost of trying them.
    std::vector<std::string> frontier{i_typeName};
    std::set<std::string> expanded{i_typeName};
    for (; i_depth <= maxRelations && !frontier.empty(); ++i_depth)
    {
        std::vector<std::string> next;
        for (const std::string& name : frontier)
        {
            std::map<Type*, RelationInfo> relations;
            store->GetType(name)->GetRelatedTypes(relations);
            for (const auto& relation : relations)
            {
                const std::string& other = relation.first->name;
                io_related.insert(other);
                if (expanded.insert(other).second)
                    next.push_back(other);
            }
        }
        frontier.swap(next);
    }
}

void TypeNavigatorDialog::FindPath(const std::string& i_current, const std::string& i_target,
                                   std::list<std::string>& io_chain)
{
    if (io_chain.size() >= maxChainTypes)
        return;
    io_chain.push_back(i_current);
    if (i_current == i_target)
    {
        // Shortest first; chains of one length stay in the order found.
        auto longer = std::find_if(foundChains.begin(), foundChains.end(),
                                   [&io_chain](const std::list<std::string>& found) {
                                       return found.size() > io_chain.size();
                                   });
        foundChains.insert(longer, io_chain);
        io_chain.pop_back();
        return;
    }
    std::map<Type*, RelationInfo> relations;
    store->GetType(i_current)->GetRelatedTypes(relations);
    for (const auto& relation : relations)
    {
        const std::string& next = relation.first->name;
        if (std::find(io_chain.begin(), io_chain.end(), next) == io_chain.end())
            FindPath(next, i_target, io_chain);
    }
    io_chain.pop_back();
}

void TypeNavigatorDialog::onFromTypeSelectionChanged(const QString& i_source)
{
    ui->toTypeBox->clear();
    const std::string sourceName = i_source.toLatin1().toStdString();
    if (!store->HasType(sourceName))
        return;
    std::set<std::string> related{sourceName};
    GetRelatedTypes(sourceName, related, 1);
    related.erase(sourceName);
    for (const std::string& name : related)
        ui->toTypeBox->addItem(QString::fromLatin1(name.c_str()));
}

void TypeNavigatorDialog::onToTypeSelectionChanged(const QString&)
{
    const std::string source = ui->fromTypeBox->currentText().toLatin1().toStdString();
    const std::string target = ui->toTypeBox->currentText().toLatin1().toStdString();
    foundChains.clear();
    ui->chartEdit->clear();
    // While the target box is refilled it has no current name, and nothing can match it.
    if (!store->HasType(source) || !store->HasType(target))
        return;
    std::list<std::string> chain;
    FindPath(source, target, chain);
    for (const std::list<std::string>& found : foundChains)
        ui->chartEdit->append(ChainLine(found));
}

QString TypeNavigatorDialog::ChainLine(const std::list<std::string>& i_chain) const
{
    QString line;
    bool oneToOne = true;
    const Type* previous = nullptr;
    for (const std::string& name : i_chain)
    {
        Type* type = store->GetType(name);
        if (previous)
        {
            const bool many = previous->GetRelation(type).otherEnd == Many;
            line += many ? " =&gt; " : " -&gt; ";
            oneToOne = oneToOne && !many;
        }
        line += Bold(name);
        if (type->isNull)
            line += " [null]";
        previous = type;
    }
    const QString count = QString::number(i_chain.size());
    const QString prefix = oneToOne ? QString("<font color=green><b>[%1]</b></font> ").arg(count)
                                    : QString("[%1] ").arg(count);
    return prefix + line;
}

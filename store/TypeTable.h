#pragma once

#include <cstddef>

#include "Data.h"
#include "RelationInfo.h"
#include "Type.h"

// The item types of a manager and the relations between them, declared from the manager's own
// tables.
namespace TypeTable {
struct TypeRow
{
    const char* name;
    Primacy primacy;
    bool isNull;
    bool autoCreate = true;
};

// bPerA: how many b-items one a-item may hold; aPerB: the reverse.
struct RelationRow
{
    const char* a;
    const char* b;
    OneOrMany bPerA;
    OneOrMany aPerB;
    bool owner = false;
};

template <std::size_t n> void DeclareTypes(Data& store, const TypeRow (&rows)[n])
{
    for (const TypeRow& row : rows)
        store.NewType(row.name, row.primacy, row.isNull, row.autoCreate);
}

// Every type named must be declared already.
template <std::size_t n> void Relate(Data& store, const RelationRow (&rows)[n])
{
    for (const RelationRow& row : rows)
        store.GetType(row.a)->RelateToType(store.GetType(row.b), row.aPerB, row.bPerA, row.owner);
}

template <std::size_t t, std::size_t r>
void Declare(Data& store, const TypeRow (&types)[t], const RelationRow (&relations)[r])
{
    DeclareTypes(store, types);
    Relate(store, relations);
}
} // namespace TypeTable

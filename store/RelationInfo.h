#pragma once

// How the items of a type take part in the removal of unreachable items.
enum Primacy
{
    PrimacyRoot = 0,
    PrimacyIntermediate = 1,
    PrimacyLeaf = 2
};

// The multiplicity at one end of a relation.
enum OneOrMany
{
    One = 0,
    Many = 1
};

// What a type knows about one related type.
struct RelationInfo
{
    OneOrMany thisEnd = One;  // items of this type one item of the other type may hold
    OneOrMany otherEnd = One; // items of the other type one item of this type may hold
    bool owns = false;
    bool ownedBy = false;
};

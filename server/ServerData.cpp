#include "Server.h"

#include "Data.h"
#include "DataSaver.h"
#include "ServerTypes.h"
#include "Settings.h"

namespace {
struct TypeDeclaration
{
    const char* name;
    Primacy primacy;
    bool valueless;
};

struct Relation
{
    const char* a;
    const char* b;
    OneOrMany bPerA;
    OneOrMany aPerB;
};

void Declare(std::initializer_list<TypeDeclaration> types)
{
    for (const TypeDeclaration& type : types)
        d.NewType(type.name, type.primacy, type.valueless, true);
}

void Relate(std::initializer_list<Relation> relations)
{
    for (const Relation& relation : relations)
        d.GetType(relation.a)
            ->RelateToType(d.GetType(relation.b), relation.aPerB, relation.bPerA, false);
}
} // namespace

void Server::CreateData()
{
    using namespace ServerTypes;
    Declare({
        {user, PrimacyRoot, false},
        {isOnline, PrimacyLeaf, true},
        {lastOnlineStatusChange, PrimacyLeaf, false},
        {isTracked, PrimacyLeaf, true},
        {isPrivileged, PrimacyLeaf, true},
        {isAway, PrimacyLeaf, true},
        {room, PrimacyRoot, false},
        {roomAutojoin, PrimacyLeaf, true},
        {userCount, PrimacyLeaf, false},
        {isPrivate, PrimacyLeaf, true},
        {isMember, PrimacyLeaf, true},
        {inRoom, PrimacyLeaf, true},
        {roomOwner, PrimacyIntermediate, true},
        {roomOperators, PrimacyIntermediate, true},
        {roomMembers, PrimacyIntermediate, true},
        {isOwner, PrimacyLeaf, true},
        {isOperator, PrimacyLeaf, true},
        {averageDownloadSpeed, PrimacyLeaf, false},
        {sharedFileCount, PrimacyLeaf, false},
        {countryCode, PrimacyLeaf, false},
        {inUserList, PrimacyLeaf, true},
        {userListGroup, PrimacyRoot, false},
        {groupDownloadPriority, PrimacyLeaf, false},
        {isIgnored, PrimacyLeaf, true},
        {acceptUploads, PrimacyLeaf, true},
    });
    Relate({
        {user, isOnline, One, Many},
        {user, lastOnlineStatusChange, One, Many},
        {user, isTracked, One, Many},
        {user, isPrivileged, One, Many},
        {user, averageDownloadSpeed, One, Many},
        {user, sharedFileCount, One, Many},
        {user, countryCode, One, Many},
        {user, inUserList, One, One},
        {user, isIgnored, One, Many},
        {user, isAway, One, Many},
        {inUserList, userListGroup, Many, Many},
        {userListGroup, groupDownloadPriority, One, Many},
        {userListGroup, acceptUploads, One, Many},
        {room, user, Many, Many},
        {room, userCount, One, Many},
        {room, inRoom, One, Many},
        {room, roomAutojoin, One, Many},
        {room, roomOwner, One, One},
        {room, roomOperators, One, One},
        {room, roomMembers, One, One},
        {roomOwner, user, One, Many},
        {roomOperators, user, Many, Many},
        {roomMembers, user, Many, Many},
        {room, isPrivate, One, Many},
        {room, isOwner, One, Many},
        {room, isOperator, One, Many},
        {room, isMember, One, Many},
    });
    Declare({{userAddressRequest, PrimacyLeaf, true}});
    Relate({{userAddressRequest, user, Many, One}});
    Declare({
        {roomTicker, PrimacyIntermediate, true},
        {roomTickerText, PrimacyLeaf, false},
        {roomTickerOrder, PrimacyLeaf, false},
        {tickerOrderCounter, PrimacyLeaf, false},
    });
    Relate({
        {room, roomTicker, Many, One},
        {room, tickerOrderCounter, One, Many},
        {roomTicker, roomTickerText, One, Many},
        {roomTicker, roomTickerOrder, One, Many},
        {roomTicker, user, One, Many},
    });

    if (dataSaver)
    {
        dataSaver->AddSavedType(roomAutojoin);
        dataSaver->AddSavedByConnectionType(room, roomAutojoin);
        dataSaver->AddSavedType(inUserList);
        dataSaver->AddSavedByConnectionType(user, inUserList);
        dataSaver->AddSavedType(userListGroup);
        dataSaver->AddSavedType(isIgnored);
        dataSaver->AddSavedByConnectionType(user, isIgnored);
        dataSaver->AddSavedType(groupDownloadPriority);
        dataSaver->AddSavedType(acceptUploads);
    }
    Settings::Set(ServerSettings::availabilityStatus, "available");
}

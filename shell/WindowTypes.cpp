#include "WindowTypes.h"

#include "Data.h"
#include "DataSaver.h"
#include "ServerTypes.h"

namespace WindowTypes {
const char* const wishListItem = "wish_list_item";
const char* const wishListItemEnabled = "wish_list_item_enabled";
const char* const userNote = "user_note";
const char* const userChatWidget = "user_chat_widget";
const char* const chatLogForm = "chat_log_form";

void DeclareWishListAndNotes()
{
    Type* items = d.NewType(wishListItem, PrimacyRoot, false, true);
    Type* enabled = d.NewType(wishListItemEnabled, PrimacyLeaf, true, true);
    items->RelateToType(enabled, Many, One, false);
    Type* notes = d.NewType(userNote, PrimacyIntermediate, false, true);
    d.GetType(ServerTypes::user)->RelateToType(notes, Many, One, false);
    if (!dataSaver)
        return;
    dataSaver->AddSavedType(wishListItem);
    dataSaver->AddSavedType(wishListItemEnabled);
    dataSaver->AddSavedType(userNote);
    // A note is kept with the users it belongs to.
    dataSaver->AddSavedByConnectionType(ServerTypes::user, userNote);
}

void DeclareUserChatWidget()
{
    Type* widgets = d.NewType(userChatWidget, PrimacyRoot, false, true);
    d.GetType(ServerTypes::user)->RelateToType(widgets, One, One, false);
}

void DeclareChatLogForm()
{
    Type* forms = d.NewType(chatLogForm, PrimacyRoot, false, true);
    forms->RelateToType(d.GetType(ServerTypes::room), One, One, false);
    forms->RelateToType(d.GetType(ServerTypes::user), One, One, false);
}
} // namespace WindowTypes

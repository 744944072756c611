#pragma once

// The item types the main window declares for views that come later: wish lists, user notes,
// private chat tabs and chat logs.
namespace WindowTypes {
extern const char* const wishListItem;        // "wish_list_item", the search text
extern const char* const wishListItemEnabled; // "wish_list_item_enabled", valueless mark
extern const char* const userNote;            // "user_note", the note's text
extern const char* const userChatWidget;      // "user_chat_widget", a chat tab's address
extern const char* const chatLogForm;         // "chat_log_form", a log view's address

// The wish list and the user notes, which are saved. Needs the type "user".
void DeclareWishListAndNotes();
// Needs the type "user".
void DeclareUserChatWidget();
// Needs the types "room" and "user".
void DeclareChatLogForm();
} // namespace WindowTypes

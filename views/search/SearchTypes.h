#pragma once

// The item types of the search views.
namespace SearchTypes {
constexpr const char* resultsWidget = "search_results_widget";
constexpr const char* resultsWidgetAlerted = "search_results_widget_alerted";
constexpr const char* expandFolders = "expand_folders";
constexpr const char* expandUsers = "expand_users";
constexpr const char* userNode = "search_results_user_node";
constexpr const char* folderNode = "search_results_folder_node";
constexpr const char* resultNode = "search_result_node";
constexpr const char* wishListNode = "wish_list_node";
constexpr const char* wishListNodeCheckbox = "wish_list_node_checkbox";
constexpr const char* wishListItemFilterText = "wish_list_item_filter_text";
constexpr const char* savedFilter = "saved_filter";
constexpr const char* searchRecord = "search_record";
constexpr const char* searchTime = "search_time";
constexpr const char* downloadEntry = "download_entry";
constexpr const char* defaultSearchFilter = "default_search_filter";
constexpr const char* useOldStyleResults = "use_old_style_search_results";
} // namespace SearchTypes

// The kind of a result tab.
enum SearchType
{
    NetworkSearch = 0,
    WishListSearch = 1,
    UserListSearch = 2,
    RoomSearch = 3,
};

#include "testing/ios_schemas.h"

namespace sample {

// Joined, the pieces give the phone's text byte for byte (up to the closing
// ';'), so that a sample's sqlite_master and records match a real sms.db.
const char kSmsMessageIos14[] =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
    "guid TEXT UNIQUE NOT NULL, text TEXT, replace INTEGER DEFAULT 0, service_center TEXT, "
    "handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT, attributedBody BLOB, "
    "version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, "
    "account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, "
    "date_delivered INTEGER, is_delivered INTEGER DEFAULT 0, "
    "is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, "
    "is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, "
    "is_delayed INTEGER DEFAULT 0, is_auto_reply INTEGER DEFAULT 0, "
    "is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, "
    "is_system_message INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, "
    "has_dd_results INTEGER DEFAULT 0, is_service_message INTEGER DEFAULT 0, "
    "is_forward INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT 0, "
    "is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, "
    "cache_roomnames TEXT, was_data_detected INTEGER DEFAULT 0, "
    "was_deduplicated INTEGER DEFAULT 0, is_audio_message INTEGER DEFAULT 0, "
    "is_played INTEGER DEFAULT 0, date_played INTEGER, item_type INTEGER DEFAULT 0, "
    "other_handle INTEGER DEFAULT 0, group_title TEXT, "
    "group_action_type INTEGER DEFAULT 0, share_status INTEGER DEFAULT 0, "
    "share_direction INTEGER DEFAULT 0, is_expirable INTEGER DEFAULT 0, "
    "expire_state INTEGER DEFAULT 0, message_action_type INTEGER DEFAULT 0, "
    "message_source INTEGER DEFAULT 0, associated_message_guid TEXT, "
    "associated_message_type INTEGER DEFAULT 0, balloon_bundle_id TEXT, payload_data BLOB, "
    "expressive_send_style_id TEXT, associated_message_range_location INTEGER DEFAULT 0, "
    "associated_message_range_length INTEGER DEFAULT 0, "
    "time_expressive_send_played INTEGER, message_summary_info BLOB, "
    "ck_sync_state INTEGER DEFAULT 0, ck_record_id TEXT, ck_record_change_tag TEXT, "
    "destination_caller_id TEXT, sr_ck_sync_state INTEGER DEFAULT 0, sr_ck_record_id TEXT, "
    "sr_ck_record_change_tag TEXT, is_corrupt INTEGER DEFAULT 0, "
    "reply_to_guid TEXT DEFAULT NULL, sort_id INTEGER DEFAULT 0, "
    "is_spam INTEGER DEFAULT 0, has_unseen_mention INTEGER DEFAULT 0, "
    "thread_originator_guid TEXT DEFAULT NULL, thread_originator_part TEXT DEFAULT NULL);";

const char kSmsHandleIos14[] =
    "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, "
    "country TEXT, service TEXT NOT NULL, uncanonicalized_id TEXT, person_centric_id TEXT, "
    "UNIQUE (id, service) );";

// The message table as iOS 17 writes it: the iOS 14 columns and ten more
// (edits and unsends, syndication, satellite and key-transparency flags).
const char kSmsMessageIos17[] =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, "
    "text TEXT, replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, "
    "subject TEXT, country TEXT, attributedBody BLOB, version INTEGER DEFAULT 0, "
    "type INTEGER DEFAULT 0, service TEXT, account TEXT, account_guid TEXT, "
    "error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, "
    "is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, "
    "is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0, "
    "is_auto_reply INTEGER DEFAULT 0, is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, "
    "is_system_message INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, "
    "has_dd_results INTEGER DEFAULT 0, is_service_message INTEGER DEFAULT 0, "
    "is_forward INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT 0, "
    "is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, "
    "cache_roomnames TEXT, was_data_detected INTEGER DEFAULT 0, "
    "was_deduplicated INTEGER DEFAULT 0, is_audio_message INTEGER DEFAULT 0, "
    "is_played INTEGER DEFAULT 0, date_played INTEGER, item_type INTEGER DEFAULT 0, "
    "other_handle INTEGER DEFAULT 0, group_title TEXT, group_action_type INTEGER DEFAULT 0, "
    "share_status INTEGER DEFAULT 0, share_direction INTEGER DEFAULT 0, "
    "is_expirable INTEGER DEFAULT 0, expire_state INTEGER DEFAULT 0, "
    "message_action_type INTEGER DEFAULT 0, message_source INTEGER DEFAULT 0, "
    "associated_message_guid TEXT, associated_message_type INTEGER DEFAULT 0, "
    "balloon_bundle_id TEXT, payload_data BLOB, expressive_send_style_id TEXT, "
    "associated_message_range_location INTEGER DEFAULT 0, "
    "associated_message_range_length INTEGER DEFAULT 0, time_expressive_send_played INTEGER, "
    "message_summary_info BLOB, ck_sync_state INTEGER DEFAULT 0, ck_record_id TEXT, "
    "ck_record_change_tag TEXT, destination_caller_id TEXT, sr_ck_sync_state INTEGER DEFAULT 0, "
    "sr_ck_record_id TEXT, sr_ck_record_change_tag TEXT, is_corrupt INTEGER DEFAULT 0, "
    "reply_to_guid TEXT, sort_id INTEGER, is_spam INTEGER DEFAULT 0, "
    "has_unseen_mention INTEGER DEFAULT 0, thread_originator_guid TEXT DEFAULT NULL, "
    "thread_originator_part TEXT DEFAULT NULL, syndication_ranges TEXT DEFAULT NULL, "
    "was_delivered_quietly INTEGER DEFAULT 0, did_notify_recipient INTEGER DEFAULT 0, "
    "synced_syndication_ranges TEXT DEFAULT NULL, date_retracted INTEGER DEFAULT 0, "
    "date_edited INTEGER DEFAULT 0, was_detonated INTEGER DEFAULT 0, part_count INTEGER, "
    "is_stewie INTEGER DEFAULT 0, is_kt_verified INTEGER DEFAULT 0);";

}  // namespace sample

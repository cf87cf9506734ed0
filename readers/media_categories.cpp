// Photos, videos and the apps' attachments: top groups that hold day groups
// of files, exported by copying the ticked files into a folder per day.

#include "backup/file_list_db.h"
#include "export/export_writer.h"
#include "readers/attachment_db.h"
#include "readers/category_readers.h"
#include "readers/photo_db.h"

namespace readers {
namespace {

constexpr DatabaseLocation kPhotoLibrary = {"CameraRollDomain", "/Photos.sqlite", "Media/PhotoData/Photos.sqlite"};

// Photos (12) and videos (13) read the same library with another filter.
class PhotoReader : public ICategoryReader {
 public:
  using ICategoryReader::ICategoryReader;

  void Load(const LoadContext& context) override {
    if (path_.empty()) return;
    db::ReportProgress(context.progress, false, 10);
    const bool videos = Category().number == base::kCategoryVideos;
    photos_ = std::make_unique<CPhotoDB>(Index(), videos ? kPhotoModeVideos : 0);
    photos_->LoadPhotos(path_, {context.groupRows[0], context.groupRows[1], context.groupRows[2]}, context.progress);
    photos_->Close();
    AddProblems(photos_.get(), true);
  }

  std::vector<db::BaseItem*> ResultList() const override {
    if (!photos_) return {};
    return {photos_->TopAlbums().begin(), photos_->TopAlbums().end()};
  }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem* topGroup, exporting::IExportProgress* progress) const override {
    if (const auto* album = dynamic_cast<const DBITEM_PhotoFriend*>(topGroup)) {
      ExportPhotos(writer.Folder(), selection, *album, progress);
    }
    return writer.Failure();
  }

 protected:
  base::Status FindFiles(backup::CFileListDB&) override { return Locate(kPhotoLibrary, path_); }

  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    DescribeMediaRecord(record, out);
  }

 private:
  std::string path_;
  std::unique_ptr<CPhotoDB> photos_;
};

// The notes' (14) and the messages' (15) attachments and WhatsApp's files
// (17): the manifest's files of the app, told apart by the app's database
// where the category has one.
class AttachmentReader : public ICategoryReader {
 public:
  using ICategoryReader::ICategoryReader;

  void Load(const LoadContext& context) override {
    set_.category = Category().number;
    LoadAttachments(set_, *Index(), context.groupRows);
    // The app's database only tells the app's files apart; without it the
    // manifest still lists them.
    AddProblems(set_.appReader.get(), false);
    AddProblems(set_.manifestReader.get(), true);
  }

  std::vector<db::BaseItem*> ResultList() const override {
    if (!set_.manifestReader) return {};
    return {set_.manifestReader->TopGroups().begin(), set_.manifestReader->TopGroups().end()};
  }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem* topGroup, exporting::IExportProgress* progress) const override {
    if (const auto* group = dynamic_cast<const DBITEM_AttachmentFriend*>(topGroup)) {
      ExportAttachments(writer.Folder(), selection, *group, progress);
    }
    return writer.Failure();
  }

 protected:
  base::Status FindFiles(backup::CFileListDB&) override { return {}; }

  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    DescribeMediaRecord(record, out);
  }

 private:
  AttachmentSet set_;
};

}  // namespace

void DescribeMediaRecord(const db::BaseItem& record, nlohmann::ordered_json& out) {
  if (const auto* media = dynamic_cast<const DBITEM_PhotoItem*>(&record)) {
    out["kind"] = media->mediaKind;
    out["mediaName"] = media->mediaName;
    out["size"] = media->size;
    out["dateText"] = media->dateText;
    out["birth"] = TimeJson(static_cast<double>(media->birth));
    out["lastModified"] = TimeJson(static_cast<double>(media->lastModified));
    out["pixelWidth"] = media->pixelWidth;
    out["pixelHeight"] = media->pixelHeight;
    out["storedPath"] = media->storedPath;
    out["thumbnailPath"] = media->thumbnailPath;
    out["livePhotoMotionPath"] = media->livePhotoMotionPath;
    out["remark"] = media->remark;
  } else if (const auto* file = dynamic_cast<const DBITEM_Attachment*>(&record)) {
    out["kind"] = file->mediaType;
    out["fileName"] = file->fileName;
    out["relativePath"] = file->relativePath;
    out["size"] = file->size;
    out["birth"] = TimeJson(static_cast<double>(file->birth));
    out["lastModified"] = TimeJson(static_cast<double>(file->lastModified));
    out["storedPath"] = file->storedPath;
  } else if (const auto* album = dynamic_cast<const DBITEM_PhotoFriend*>(&record)) {
    out["albumName"] = album->albumName;
  } else if (const auto* group = dynamic_cast<const DBITEM_AttachmentFriend*>(&record)) {
    out["groupName"] = group->groupName;
    out["fileCount"] = group->fileCount;
    out["markCounts"] = group->markCounts;
  }
}

std::unique_ptr<ICategoryReader> MakePhotoReader(const base::CategoryInfo& category) {
  return std::make_unique<PhotoReader>(category);
}

std::unique_ptr<ICategoryReader> MakeAttachmentReader(const base::CategoryInfo& category) {
  return std::make_unique<AttachmentReader>(category);
}

}  // namespace readers

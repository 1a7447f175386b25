#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CropChoices.h"
#include "DocTestSupport.h"
#include "StringTable.h"
#include "TextCodec.h"

using namespace TestDoubles;

namespace {

std::vector<std::string> ProjectPaths(COvHorizelDoc& doc) {
    std::vector<std::string> paths;
    doc.GetPhotoList().CollectPaths(paths);
    return paths;
}

std::vector<std::string> ElementPaths(const COvHorizelDoc::ElementVector& elements) {
    std::vector<std::string> paths;
    for (auto* e : elements)
        paths.push_back(e ? Platform::Utf8FromWide(e->GetFileName()) : "<null>");
    return paths;
}

std::vector<std::string> Names(const std::vector<NetPrint::CAspectData>& list) {
    std::vector<std::string> names;
    for (const auto& entry : list)
        names.push_back(entry.name + "/" + std::to_string(entry.kind));
    return names;
}

}  // namespace

TEST(DocumentBase, UpdatesViewsInOrderSkippingTheSender) {
    CallLog log;
    RecordingView a(log, "a"), b(log, "b"), c(log, "c");
    CDocumentBase doc;
    doc.AddView(&a);
    doc.AddView(&b);
    doc.AddView(&c);
    doc.AddView(&a);
    doc.UpdateAllViews(&b, 5);
    doc.RemoveView(&a);
    doc.UpdateAllViews(nullptr, 0);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"a 5", "c 5", "b 0", "c 0"}));
}

TEST(Document, CropListFromTheProductFiles) {
    const std::string program = "<PRODUCT w=\"4\" h=\"3\" oms_id=\"1\" name=\"Program\"/>";
    const std::string user = "<PRODUCT w=\"3\" h=\"2\" oms_id=\"2\" name=\"User\"/>";
    EXPECT_EQ(Names(CropChoices::Build("", "")), (std::vector<std::string>{"No crop/0", "Manual/1"}));
    EXPECT_EQ(Names(CropChoices::Build(program, "")),
              (std::vector<std::string>{"No crop/0", "Manual/1", "Program/2"}));
    EXPECT_EQ(Names(CropChoices::Build(program, user)),
              (std::vector<std::string>{"No crop/0", "Manual/1", "User/2"}));
    EXPECT_EQ(Names(CropChoices::Build(program, "<PRODUCT w=\"0\" h=\"2\" oms_id=\"2\" name=\"Z\"/>")),
              (std::vector<std::string>{"No crop/0", "Manual/1", "Program/2"}));

    // What was skipped, of the file(s) the list comes from.
    const std::string bad = "<PRODUCT w=\"4\" h=\"3\" name=\"No id\"/>";
    CropChoices::SkippedProducts skipped;
    CropChoices::Build(program + bad, "", &skipped);
    EXPECT_EQ(skipped.program, (std::vector<std::string>{"PRODUCT at byte " + std::to_string(program.size()) +
                                                         ": w, h or oms_id missing"}));
    EXPECT_TRUE(skipped.user.empty());
    CropChoices::Build(program + bad, user, &skipped);
    EXPECT_TRUE(skipped.program.empty()) << "the per-user list replaces the program's";
    EXPECT_EQ(Names(CropChoices::Build(program, bad, &skipped)),
              (std::vector<std::string>{"No crop/0", "Manual/1", "Program/2"}));
    EXPECT_EQ(skipped.user.size(), 1u) << "why the per-user copy offers nothing";

    // The document reads the per-user copy from the data folder.
    DocEnvironment env;
    std::filesystem::create_directories(env.scratch.path() / "data" / "ORVEXQXLOGS");
    std::ofstream(env.scratch.path() / "data" / "ORVEXQXLOGS" / "aspect.xml") << user;
    COvHorizelDoc doc;
    EXPECT_EQ(Names(*doc.GetProductList()).back(), "User/2");
}

TEST(Document, StoredChoicesComeBackAndAreWrittenBackUnchanged) {
    DocEnvironment env;
    AppProfile::WriteProfileInt("SAVING", "crop type", 3);
    AppProfile::WriteProfileInt("STITCHING", "manual mode", 1);
    {
        COvHorizelDoc doc;
        EXPECT_EQ(doc.GetCropTypeIndex(), 3);
        EXPECT_EQ(doc.GetMatchingMode(), 1);
        // No product 3 this run: the choice reads as "Manual".
        EXPECT_EQ(doc.GetCropChoice().kind, 1);
        doc.ApplyExportChoice(-4);
        EXPECT_EQ(doc.GetCropChoice().kind, 0);
        doc.ApplyExportChoice(3);
    }
    EXPECT_EQ(AppProfile::GetProfileInt("SAVING", "crop type", 0), 3);
    EXPECT_EQ(AppProfile::GetProfileInt("STITCHING", "manual mode", 0), 1);
}

TEST(Document, AddFilesTakesReadableNewPathsOnce) {
    DocEnvironment env;
    DocRig rig;
    rig.doc->AddFiles({"/p/IMG.JPG", "/p/img.jpg", "/p/IMG.JPG", "/p/a.ps", "/p/noext", "/p/x.tiff"});
    EXPECT_EQ(ProjectPaths(*rig.doc), (std::vector<std::string>{"/p/IMG.JPG", "/p/img.jpg"}));
    EXPECT_EQ(rig.viewLog.Lines(), std::vector<std::string>{"view 0"});
    EXPECT_TRUE(rig.doc->IsModified());
    rig.doc->AddFiles({"/p/img.jpg"});
    EXPECT_EQ(rig.doc->GetPhotoList().GetCount(), 2u);
    // ".tif" passes when ".tiff" is listed: the test is a substring search.
    ProjectFiles::SetReadableExtensions(".tiff;");
    EXPECT_TRUE(ProjectFiles::IsReadableImageFile("/x/a.TIF"));
}

// A photo whose file went away after it was added (deleted from the browser,
// say) is named as missing, not as a file of an unsupported format.
TEST(Document, APhotoDeletedAfterAddingIsReportedAsNotFound) {
    DocEnvironment env;
    DocRig rig;
    const std::string kept = env.Photo("a.jpg");
    const std::string gone = env.Photo("b.jpg");
    rig.doc->AddFiles({kept, gone});
    std::filesystem::remove(gone);

    rig.doc->SetCurrentTask(2);

    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0], "b.jpg\nFile not found");
    EXPECT_EQ(ProjectPaths(*rig.doc), (std::vector<std::string>{kept}));
}

TEST(Document, EnteringStitchLoadsElementsAndDropsUnreadablePhotos) {
    DocEnvironment env;
    ProjectFiles::SetReadableExtensions(".bmp;.jpg;.png;.gif;");
    DocRig rig;
    const std::string a = env.Photo("a.jpg");
    const std::string bad = env.scratch / "b.jpg";
    std::ofstream(bad) << "not a jpeg at all";
    const std::string upper = env.Photo("C.PNG");
    const std::string lower = env.Photo("c.png");
    const std::string gif = env.scratch / "photo.gif";
    std::ofstream(gif) << "GIF89a";
    rig.doc->AddFiles({a, bad, upper, lower, gif});
    rig.viewLog.Clear();

    rig.doc->SetCurrentTask(2);

    // One message names both refused files, each with its reason.
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0],
              "2 files cannot be stitched and were taken out of the project:\n"
              "b.jpg: The file is damaged or is not a picture.\n"
              "photo.gif: Unsupported file format.");
    EXPECT_EQ(ProjectPaths(*rig.doc), (std::vector<std::string>{a, upper, lower}));
    EXPECT_EQ(ElementPaths(rig.doc->GetPhotoElements()), (std::vector<std::string>{a, upper, lower}));
    ASSERT_EQ(rig.doc->GetPreparedElements().size(), 3u);
    for (auto* prepared : rig.doc->GetPreparedElements())
        EXPECT_NE(prepared, nullptr);
    for (auto* element : rig.doc->GetPhotoElements())
        EXPECT_FALSE(element->IsValid());  // unloaded until the engine needs them
    EXPECT_EQ(rig.viewLog.Lines(), (std::vector<std::string>{"view 5", "view 5", "view 4"}));
    // Loaded with Cancel offered, to the end.
    const auto progress = rig.progress.log.Lines();
    ASSERT_GE(progress.size(), 4u);
    EXPECT_EQ(progress[0], "SetText Loading images: a.jpg");
    EXPECT_EQ(progress[1], "Begin");
    EXPECT_EQ(progress[2], "SetProgress 5 1");
    EXPECT_EQ(progress.back(), "End");
    EXPECT_EQ(rig.progress.log.Count("SetProgress"), 5);
    EXPECT_EQ(rig.host.waitDepth, 0);

    // The same task again loads nothing; a new photo on the stitch task loads alone.
    rig.progress.log.Clear();
    rig.doc->SetCurrentTask(2);
    EXPECT_TRUE(rig.progress.log.Lines().empty());
    rig.doc->AddFiles({env.Photo("d.jpg")});
    rig.doc->OnPhotoListEdited();
    EXPECT_EQ(rig.progress.log.Count("SetProgress 1 1"), 1);
    EXPECT_EQ(rig.doc->GetPhotoElements().size(), 4u);
}

TEST(Document, APhotoThatVanishesBeforeLoadingIsReportedAndDropped) {
    DocEnvironment env;
    DocRig rig;
    const std::string a = env.Photo("a.jpg"), b = env.Photo("b.jpg");
    rig.doc->AddFiles({a, b});
    std::filesystem::remove(a);
    rig.doc->SetCurrentTask(2);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].rfind("a.jpg\n", 0), 0u);
    EXPECT_EQ(ProjectPaths(*rig.doc), std::vector<std::string>{b});
    EXPECT_FALSE(rig.doc->CanStitch());
}

TEST(Document, ChangePromptGuardsAStitchedResult) {
    DocEnvironment env;
    const std::string a = env.Photo("a.jpg"), b = env.Photo("b.jpg");
    const std::vector<std::string> removed = {a};
    const std::vector<std::string> outside = {"/elsewhere.jpg"};
    {
        DocRig rig;
        rig.doc->AddFiles({a, b});
        // No result yet: nothing to ask.
        EXPECT_TRUE(rig.doc->ConfirmPhotoListChange(nullptr, &removed, false));
        EXPECT_TRUE(rig.host.asked.empty());
        rig.doc->SetCurrentTask(2);
        rig.doc->StartStitching();
        rig.doc->SetCurrentTask(3);
        // Removing a photo that is not in the project does not touch it.
        EXPECT_TRUE(rig.doc->ConfirmPhotoListChange(nullptr, &outside, false));
        EXPECT_TRUE(rig.host.asked.empty());

        for (int answer : {DocResult::kNo, DocResult::kCancel}) {
            rig.host.answer = answer;
            EXPECT_FALSE(rig.doc->ConfirmPhotoListChange(nullptr, &removed, false)) << answer;
            EXPECT_FALSE(rig.doc->IsResultStale());
        }
        rig.host.answer = DocResult::kYes;
        EXPECT_TRUE(rig.doc->ConfirmPhotoListChange(nullptr, &removed, false));
        EXPECT_TRUE(rig.doc->IsResultStale());
        EXPECT_FALSE(rig.doc->CanRenderFullResult());
        EXPECT_FALSE(rig.doc->IsFullResultCurrent());
        // Asked once: the result is already out of date.
        EXPECT_TRUE(rig.doc->ConfirmPhotoListChange(nullptr, &removed, false));
        EXPECT_EQ(rig.host.asked.size(), 4u - 1u);
        EXPECT_EQ(rig.host.asked[0], Res::LoadStr(219));
        // The next task switch drops the results and clears the flag.
        rig.doc->ResetEngines();
        EXPECT_FALSE(rig.doc->IsResultStale());
        EXPECT_EQ(rig.planar->log.Count("FreeResults"), 1);
    }
    {
        AppProfile::WriteProfileInt("GENERAL", "DNTSHOW_ABOUTPHOTOLIST", 1);
        DocRig rig;
        rig.Stitched({a, b});
        EXPECT_TRUE(rig.doc->ConfirmPhotoListChange(nullptr, &removed, false));
        EXPECT_TRUE(rig.host.asked.empty());
        EXPECT_TRUE(rig.doc->IsResultStale());
    }
}

TEST(Document, RemoveAllActsOnTheAddImagesTaskOnly) {
    DocEnvironment env;
    DocRig rig;
    rig.doc->AddFiles({env.Photo("a.jpg"), env.Photo("b.jpg")});
    rig.doc->SetCurrentTask(2);
    rig.doc->ClearPhotos();
    EXPECT_EQ(rig.doc->GetPhotoList().GetCount(), 2u);
    rig.doc->SetCurrentTask(1);
    rig.viewLog.Clear();
    rig.doc->ClearPhotos();
    EXPECT_TRUE(rig.doc->GetPhotoList().IsEmpty());
    EXPECT_EQ(rig.viewLog.Lines(), std::vector<std::string>{"view 0"});
}

TEST(Document, InsertedPhotosAreCopiesAndTheFirstIsReturned) {
    DocEnvironment env;
    DocRig rig;
    rig.doc->AddFiles({"/p/a.jpg"});
    CClipDescriptionList dropped;
    dropped.AddPath("/p/b.jpg");
    dropped.AddPath("/p/c.jpg");
    auto first = rig.doc->InsertPhotos(dropped);
    ASSERT_NE(first, rig.doc->GetPhotoList().end());
    EXPECT_EQ((*first)->GetPath(), "/p/b.jpg");
    EXPECT_NE((*first)->GetId(), dropped.begin()->get()->GetId());
    rig.doc->RemovePhotoAt(nullptr, first);
    EXPECT_EQ(ProjectPaths(*rig.doc), (std::vector<std::string>{"/p/a.jpg", "/p/c.jpg"}));
}

TEST(Document, RealEnginesLoadAndPrepareTheBoatRow) {
    OVH_REQUIRE_PHOTOS();
    DocEnvironment env;
    RecordingUserInterface ui;
    RecordingProgressEx progress;
    RecordingHost host;
    COvHorizelDoc doc;
    doc.SetHost(&host);
    doc.CreateEngines(&ui, &progress);
    std::vector<std::string> paths;
    for (int i = 1; i <= 6; ++i)
        paths.push_back(TestData::Photo("boat-row/boat" + std::to_string(i) + ".jpg").string());
    doc.AddFiles(paths);
    doc.SetCurrentTask(2);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(ElementPaths(doc.GetPhotoElements()), paths);
    for (auto* prepared : doc.GetPreparedElements())
        EXPECT_NE(prepared, nullptr);
    EXPECT_TRUE(doc.CanStitch());
}

TEST(Document, ReorderedPhotosKeepTheirElementsAndPreparedCopiesWithoutLoadingAgain) {
    DocEnvironment env;
    DocRig rig;
    const std::string a = env.Photo("a.jpg"), b = env.Photo("b.jpg"), c = env.Photo("c.jpg");
    rig.doc->AddFiles({a, b, c});
    rig.doc->SetCurrentTask(2);
    const auto elements = rig.doc->GetPhotoElements();
    const auto prepared = rig.doc->GetPreparedElements();
    ASSERT_EQ(elements.size(), 3u);
    ASSERT_EQ(prepared.size(), 3u);

    // c to the front, then b taken out.
    CClipDescriptionList& photos = rig.doc->GetPhotoList();
    rig.doc->MovePhotos(std::prev(photos.end()), photos.end(), photos.begin());
    rig.doc->RemovePhoto(nullptr, photos.FindByPath(b));
    rig.progress.log.Clear();
    rig.doc->OnPhotoListEdited();

    EXPECT_EQ(rig.progress.log.Count("SetProgress"), 0) << "nothing was read again";
    EXPECT_EQ(ElementPaths(rig.doc->GetPhotoElements()), (std::vector<std::string>{c, a}));
    EXPECT_EQ(rig.doc->GetPhotoElements(), (COvHorizelDoc::ElementVector{elements[2], elements[0]}));
    EXPECT_EQ(rig.doc->GetPreparedElements(), (COvHorizelDoc::ElementVector{prepared[2], prepared[0]}));
}

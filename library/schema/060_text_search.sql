-- The word search of the issues finds its candidates in trigram indexes rather than reading every
-- text: this one of the comments, and one per issue field of the text kinds,
-- IssueText_<field>_Index, made by the program as the fields come and go
-- (schema/text_search.cpp; new sites get the Summary's after the first rows). The indexes keep no
-- copy of the texts (content=''): the triggers hand the old text back to take it out, and an empty
-- text is never indexed. The trigram index folds the case of more letters than LIKE does and
-- cannot find fewer than three characters, so the search checks every candidate with its LIKE and
-- scans as before for a shorter word.
CREATE VIRTUAL TABLE IssueCommentText USING fts5(Body, content='', columnsize=0,
  tokenize='trigram case_sensitive 0');
CREATE TRIGGER IssueCommentText_Insert AFTER INSERT ON IssueComments FOR EACH ROW
  WHEN new.CommentText <> '' BEGIN
  INSERT INTO IssueCommentText (rowid, Body) VALUES (new.CommentId, new.CommentText);
END;
CREATE TRIGGER IssueCommentText_Delete AFTER DELETE ON IssueComments FOR EACH ROW
  WHEN old.CommentText <> '' BEGIN
  INSERT INTO IssueCommentText (IssueCommentText, rowid, Body) VALUES ('delete', old.CommentId, old.CommentText);
END;
CREATE TRIGGER IssueCommentText_Update AFTER UPDATE OF CommentId, CommentText ON IssueComments FOR EACH ROW
  WHEN old.CommentId IS NOT new.CommentId OR old.CommentText IS NOT new.CommentText COLLATE BINARY BEGIN
  INSERT INTO IssueCommentText (IssueCommentText, rowid, Body)
    SELECT 'delete', old.CommentId, old.CommentText WHERE old.CommentText <> '';
  INSERT INTO IssueCommentText (rowid, Body) SELECT new.CommentId, new.CommentText WHERE new.CommentText <> '';
END;

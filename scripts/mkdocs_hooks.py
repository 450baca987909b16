"""MkDocs hooks of the manual (mkdocs.yml): the README is the site's front
page, and a page left out of the navigation fails the strict build."""
import logging
import os
import re

from mkdocs.structure.files import File

log = logging.getLogger("mkdocs.hooks.zelvo")

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def on_files(files, config):
    # MkDocs takes a README.md for the index of its folder.
    files.append(File("README.md", ROOT, config["site_dir"], config["use_directory_urls"]))
    return files


def on_page_markdown(markdown, page, config, files):
    # The links are written for a code host: the README's point into docs/,
    # and the pages' to the README one folder up; the site holds both in one.
    if page.file.src_path == "README.md":
        return re.sub(r"\]\(docs/", "](", markdown)
    return re.sub(r"\]\(((?:\.\./)*)\.\./README\.md", r"](\1README.md", markdown)


def on_nav(nav, config, files):
    listed = {page.file.src_path for page in nav.pages}
    for file in files.documentation_pages():
        if file.src_path not in listed:
            log.warning("%s is not in the navigation of mkdocs.yml", file.src_path)
    return nav

#!/usr/bin/python3
"""Every include that reaches into another folder names a folder whose library the including
folder links (directly or through another library): so a lower layer can never include a higher
one, although the source tree is the one include root. Reads the links from the build's
layering.txt (folder, target, linked libraries) and the includes from the sources."""
import os
import re
import sys

source, binary = os.environ['VARNISK_SOURCE_DIR'], os.environ['VARNISK_BINARY_DIR']
folder_of, links = {}, {}
for line in open(os.path.join(binary, 'layering.txt')):
    folder, target, linked = (line.rstrip('\n').split(' ', 2) + [''])[:3]
    folder_of[target] = folder
    links.setdefault(folder, set()).update(linked.split(';'))

def reachable(folder, seen=None):
    seen = set() if seen is None else seen
    for target in links.get(folder, ()):
        other = folder_of.get(target)
        if other and other not in seen:
            seen.add(other)
            reachable(other, seen)
    return seen

problems = []
for folder in links:
    allowed = reachable(folder) | {folder}
    path = os.path.join(source, folder)
    for name in sorted(os.listdir(path)):
        if not name.endswith(('.cpp', '.h')):
            continue
        text = open(os.path.join(path, name), encoding='utf-8').read()
        for included in re.findall(r'^#include "([^"]+)"', text, re.M):
            reached = os.path.dirname(included)
            if '..' in included or (reached and reached not in allowed):
                problems.append('%s/%s includes "%s"' % (folder, name, included))
if problems or not links:
    print('\n'.join(problems) or 'no folders in layering.txt')
    sys.exit(1)
print('%d folders, every include within the libraries they link' % len(links))

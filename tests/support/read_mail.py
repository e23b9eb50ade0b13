"""Reads a composed email on stdin as a mail client would and prints its decoded headers, MIME tree, texts and
pictures (size, QR code) as JSON; fails on anything a strict reader or a relay would refuse or rewrite."""
import email, email.header, email.policy, json, re, struct, subprocess, sys


def picture(data):
    assert data[:8] == b'\x89PNG\r\n\x1a\n' and data[12:16] == b'IHDR'
    scan = subprocess.run(['zbarimg', '--quiet', '--raw', 'png:-'], input=data, capture_output=True)
    return {'width': struct.unpack('>I', data[16:20])[0], 'qr': scan.stdout.decode().rstrip('\n')}


def tree(part):
    assert not part.defects, part.defects
    if part.is_multipart():
        return part.get_content_type() + '(' + ','.join(tree(p) for p in part.iter_parts()) + ')'
    if part.get_content_maintype() == 'text':
        found[part.get_content_subtype()] = part.get_content().replace('\r\n', '\n')
    else:
        found['images'].append(dict(picture(part.get_content()), cid=part['Content-ID'], filename=part.get_filename()))
    return part.get_content_type()


raw = sys.stdin.buffer.read()
head, body = raw.split(b'\r\n\r\n', 1)
assert max(raw) < 128 and b'\n' not in raw.replace(b'\r\n', b''), '8-bit or a bare line feed'
assert max(map(len, head.split(b'\r\n'))) <= 78 and max(map(len, body.split(b'\r\n'))) <= 76, 'a long line'
assert not re.search(rb'[ \t]\r\n', body), 'spaces at a line end, which relays may strip'
# Each encoded-word alone: at most 75 long, whole UTF-8 characters (the parser joins adjacent ones first).
for word in re.findall(rb'=\?[^?]*\?[BbQq]\?[^?]*\?=', head):
    assert len(word) <= 75, word
    email.header.decode_header(word.decode())[0][0].decode('utf-8')
message = email.message_from_bytes(raw, policy=email.policy.default)
found = {'headers': list(message.keys()), 'images': [], 'subject': str(message['Subject']),
         'date': message['Date'].datetime.isoformat(), 'messageId': str(message['Message-ID'])}
for field in ('From', 'To'):
    assert not message[field].defects, message[field].defects
    found[field.lower()] = {'name': message[field].addresses[0].display_name,
                            'address': message[field].addresses[0].addr_spec}
found['structure'] = tree(message)
print(json.dumps(found))

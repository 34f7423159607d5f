// The comparison server for the web host benchmark: Node's http module and sharp doing the same
// job as `quorvex serve` with box=WxH (fit inside, never enlarge, JPEG quality 90).
// Usage: node sharp_server.js ROOT   (prints "listening on http://127.0.0.1:PORT/")
'use strict';
const http = require('http');
const path = require('path');
const sharp = require('sharp');

const root = process.argv[2];

const server = http.createServer(async (request, response) => {
  const url = new URL(request.url, 'http://localhost');
  const box = /^(\d+)x(\d+)$/.exec(url.searchParams.get('box') || '');
  if (!box) {
    response.writeHead(400, {'Content-Type': 'text/plain; charset=utf-8'});
    response.end('box=WxH expected');
    return;
  }
  try {
    const body = await sharp(path.join(root, path.normalize(url.pathname)))
                     .resize(Number(box[1]), Number(box[2]), {fit: 'inside', withoutEnlargement: true})
                     .jpeg({quality: 90})
                     .toBuffer();
    response.writeHead(200, {'Content-Type': 'image/jpeg', 'Content-Length': body.length});
    response.end(body);
  } catch (error) {
    response.writeHead(422, {'Content-Type': 'text/plain; charset=utf-8'});
    response.end(String(error.message));
  }
});

server.listen(0, '127.0.0.1', () => {
  console.log(`listening on http://127.0.0.1:${server.address().port}/`);
});
process.on('SIGTERM', () => server.close(() => process.exit(0)));

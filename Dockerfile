# quirlon-serve in a container: built in a first stage, run from a slim Debian with only the
# libraries it links, as an unprivileged user.
#   docker build -t quirlon-serve .
#   docker run --rm -p 8080:8080 quirlon-serve
FROM debian:bookworm-slim AS build
RUN apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      g++ cmake make pkg-config zlib1g-dev libpng-dev libjpeg62-turbo-dev libdeflate-dev libwebp-dev \
      libagg-dev libgif-dev libtiff-dev libmagick++-6.q16-dev libheif-dev librsvg2-dev libcairo2-dev \
      libpoppler-cpp-dev libcpp-httplib-dev \
 && rm -rf /var/lib/apt/lists/*
COPY . /src
RUN cmake -S /src -B /build -DCMAKE_BUILD_TYPE=Release -DQUIRLON_TESTS=OFF -DQUIRLON_WINDOW=OFF \
 && cmake --build /build -j "$(nproc)" --target quirlon-serve \
 && mkdir -p /opt/quirlon && cp -r /src/data/. /opt/quirlon/ \
 && cp /build/cli/quirlon-serve /build/libquirlon-codecs.so /opt/quirlon/

FROM debian:bookworm-slim
RUN apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      libcpp-httplib0.11 libpng16-16 libjpeg62-turbo zlib1g libdeflate0 libwebp7 libwebpdemux2 libwebpmux3 libgif7 libtiff6 \
      libmagick++-6.q16-8 libheif1 librsvg2-2 libcairo2 libglib2.0-0 libpoppler-cpp0v5 \
 && rm -rf /var/lib/apt/lists/* \
 && useradd --system --no-create-home --shell /usr/sbin/nologin quirlon
COPY --from=build /opt/quirlon /opt/quirlon
USER quirlon
EXPOSE 8080
# bash's own /dev/tcp: no HTTP client needs to be installed for the check.
HEALTHCHECK --interval=15s --timeout=3s --start-period=5s --retries=3 \
  CMD ["bash", "-c", "exec 3<>/dev/tcp/127.0.0.1/8080 && printf 'GET /healthz HTTP/1.0\\r\\n\\r\\n' >&3 && grep -q '^ok' <&3"]
STOPSIGNAL SIGTERM
ENTRYPOINT ["/opt/quirlon/quirlon-serve", "--listen", "0.0.0.0:8080"]

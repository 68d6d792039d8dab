// Thermal camera: softened luminance read as heat on an iron ramp, black through blue,
// magenta, red and yellow to white.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;

varying vec2 v_texCoord;
varying vec4 v_nearA;
varying vec4 v_nearB;

const vec3 kLuma = vec3(0.299, 0.587, 0.114);
const vec3 kBlue = vec3(0.05, 0.0, 0.75);
const vec3 kMagenta = vec3(0.75, 0.0, 0.7);
const vec3 kRed = vec3(1.0, 0.08, 0.05);
const vec3 kYellow = vec3(1.0, 0.88, 0.0);

void main() {
    float heat = 0.4 * dot(texture2D(s_texture, v_texCoord).rgb, kLuma) +
                 0.15 * (dot(texture2D(s_texture, v_nearA.xy).rgb, kLuma) +
                         dot(texture2D(s_texture, v_nearA.zw).rgb, kLuma) +
                         dot(texture2D(s_texture, v_nearB.xy).rgb, kLuma) +
                         dot(texture2D(s_texture, v_nearB.zw).rgb, kLuma));
    // Five equal steps; each mix only moves once heat has reached its step.
    float x = heat * 5.0;
    vec3 colour = kBlue * clamp(x, 0.0, 1.0);
    colour = mix(colour, kMagenta, clamp(x - 1.0, 0.0, 1.0));
    colour = mix(colour, kRed, clamp(x - 2.0, 0.0, 1.0));
    colour = mix(colour, kYellow, clamp(x - 3.0, 0.0, 1.0));
    colour = mix(colour, vec3(1.0), clamp(x - 4.0, 0.0, 1.0));
    gl_FragColor = vec4(colour, 1.0);
}
